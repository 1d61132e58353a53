#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillant::testing {

// A bare plain-HTTP/1.1 listener on one loopback address: it records every
// byte each connection sent and answers each request with what the handler
// makes of its target, then closes. Also serves as a squatter on a port.
class PlainHttpServer {
public:
    using Handler = std::function<std::string(const std::string& target)>;  // a whole raw response

    // Port 0 picks a free one. Throws std::runtime_error when it cannot listen.
    explicit PlainHttpServer(std::string host = "127.0.0.1", int port = 0, Handler handler = {});
    ~PlainHttpServer();
    PlainHttpServer(const PlainHttpServer&) = delete;
    PlainHttpServer& operator=(const PlainHttpServer&) = delete;

    int port() const { return port_; }
    std::string baseURL() const { return "http://" + host_ + ":" + std::to_string(port_); }
    int connectionCount() const { return connections_; }
    std::vector<std::string> targets() const;
    std::string allBytes() const;  // everything any connection sent

    static std::string reply(int status, const std::string& headers, const std::string& body);

private:
    void acceptLoop();
    std::string host_;
    int port_ = 0;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    Handler handler_;
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> targets_;
    std::string bytes_;
    std::thread acceptor_;
};

}  // namespace quillant::testing
