#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testsupport/Ports.h"
#include "testsupport/TempDir.h"

struct ssl_ctx_st;  // OpenSSL's SSL_CTX

namespace quillant::testing {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct ReceivedRequest {
    std::string method;
    std::string target;
    Fields headers;  // in the order they arrived
    std::string body;
    int connection = 0;  // which connection carried it, counted from 0

    std::optional<std::string> header(std::string_view name) const;
    // Position of the first field of that name, or -1.
    int indexOf(std::string_view name) const;
};

struct ScriptedReply {
    enum class Action {
        respond,
        closeMidBody,      // announces the full length, sends half the body, hangs up
        stall,             // never answers; waits for the client to give up
        closeWithoutReply, // hangs up right after reading the request
    };
    int status = 200;
    Fields headers;
    std::string body;
    Action action = Action::respond;

    static ScriptedReply json(int status, std::string body) {
        return ScriptedReply{status, {{"Content-Type", "application/json"}}, std::move(body), Action::respond};
    }
    static ScriptedReply with(Action action) { return ScriptedReply{200, {}, "0123456789abcdefghij", action}; }
};

// A real HTTPS/1.1 server on 127.0.0.1 with a certificate made for this run.
// Replies come from a queue (then from the handler; by default 404). It keeps
// connections alive and records every request it read.
class TestHttpsServer {
public:
    TestHttpsServer();
    ~TestHttpsServer();
    TestHttpsServer(const TestHttpsServer&) = delete;
    TestHttpsServer& operator=(const TestHttpsServer&) = delete;

    std::string baseURL() const { return "https://127.0.0.1:" + std::to_string(port_); }
    int port() const { return port_; }
    // The certificate to trust (it is its own authority).
    const std::filesystem::path& caFile() const { return caFile_; }
    const std::filesystem::path& scratchDir() const { return dir_.path(); }

    void enqueue(ScriptedReply reply);
    void setHandler(std::function<ScriptedReply(const ReceivedRequest&)> handler);

    std::vector<ReceivedRequest> received() const;
    std::size_t requestCount() const;
    // Blocks until at least `count` requests arrived; false after `limit`.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(10'000)) const;
    int connectionCount() const;

private:
    void acceptLoop();
    void serve(int fd, int connection);
    ScriptedReply replyFor(const ReceivedRequest& request);

    TempDir dir_;
    std::filesystem::path caFile_;
    ssl_ctx_st* ctx_ = nullptr;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    int port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    bool stopping_ = false;
    std::deque<ScriptedReply> queue_;
    std::function<ScriptedReply(const ReceivedRequest&)> handler_;
    std::vector<ReceivedRequest> received_;
    std::set<int> openFds_;
    int connections_ = 0;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace quillant::testing
