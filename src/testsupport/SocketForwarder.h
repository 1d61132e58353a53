#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace quillant::testing {

// A Unix socket whose connections are carried to a TCP port on 127.0.0.1, so
// that a loopback test server can also be reached as a private local socket
// ("http+unix://"). The socket's folder is the caller's to make private.
class SocketForwarder {
public:
    SocketForwarder(std::filesystem::path socketPath, int tcpPort);
    ~SocketForwarder();
    SocketForwarder(const SocketForwarder&) = delete;
    SocketForwarder& operator=(const SocketForwarder&) = delete;

    // "http+unix://" and the socket's percent-encoded path.
    std::string baseURL() const;

private:
    void acceptLoop();
    std::filesystem::path path_;
    int port_;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> pumps_;
    std::thread acceptor_;
};

}  // namespace quillant::testing
