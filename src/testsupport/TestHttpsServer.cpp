#include "testsupport/TestHttpsServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <strings.h>

#include "testsupport/TestCertificate.h"

namespace quillant::testing {

namespace {

[[noreturn]] void fail(const std::string& what) {
    char buffer[256];
    ERR_error_string_n(ERR_get_error(), buffer, sizeof buffer);
    throw std::runtime_error("test server: " + what + ": " + buffer);
}

bool sendAll(SSL* ssl, std::string_view data) {
    while (!data.empty()) {
        int n = SSL_write(ssl, data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 1 << 16)));
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

const char* reasonFor(int status) {
    switch (status) {
        case 200: return "OK";
        case 302: return "Found";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 429: return "Too Many Requests";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

// Parses one request head; false if malformed.
bool parseHead(std::string_view head, ReceivedRequest& out) {
    std::size_t lineEnd = head.find("\r\n");
    std::string_view requestLine = head.substr(0, lineEnd);
    std::size_t sp1 = requestLine.find(' ');
    std::size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1) return false;
    out.method = std::string(requestLine.substr(0, sp1));
    out.target = std::string(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
    std::size_t pos = lineEnd == std::string_view::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        std::size_t end = head.find("\r\n", pos);
        if (end == std::string_view::npos) end = head.size();
        std::string_view line = head.substr(pos, end - pos);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            out.headers.emplace_back(std::string(line.substr(0, colon)), trim(line.substr(colon + 1)));
        pos = end + 2;
    }
    return true;
}

}  // namespace

std::optional<std::string> ReceivedRequest::header(std::string_view name) const {
    int i = indexOf(name);
    if (i < 0) return std::nullopt;
    return headers[static_cast<std::size_t>(i)].second;
}

int ReceivedRequest::indexOf(std::string_view name) const {
    for (std::size_t i = 0; i < headers.size(); ++i)
        if (headers[i].first.size() == name.size() &&
            strncasecmp(headers[i].first.c_str(), name.data(), name.size()) == 0)
            return static_cast<int>(i);
    return -1;
}

TestHttpsServer::TestHttpsServer() {
    // A client that hangs up mid-write must not kill the test process.
    std::signal(SIGPIPE, SIG_IGN);

    caFile_ = dir_ / "ca.pem";
    const auto keyFile = dir_ / "key.pem";
    writeSelfSignedCertificate(caFile_, keyFile);

    ctx_ = SSL_CTX_new(TLS_server_method());
    if (!ctx_ || SSL_CTX_use_certificate_file(ctx_, caFile_.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        fail("TLS context");

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 32) != 0)
        throw std::runtime_error("test server: bind");
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

TestHttpsServer::~TestHttpsServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
    }
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    acceptor_.join();
    for (auto& t : threads_) t.join();
    ::close(listenFd_);
    ::close(wakeFd_);
    SSL_CTX_free(ctx_);
}

void TestHttpsServer::enqueue(ScriptedReply reply) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(reply));
}

void TestHttpsServer::setHandler(std::function<ScriptedReply(const ReceivedRequest&)> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<ReceivedRequest> TestHttpsServer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t TestHttpsServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return received_.size();
}

bool TestHttpsServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return received_.size() >= count; });
}

int TestHttpsServer::connectionCount() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

ScriptedReply TestHttpsServer::replyFor(const ReceivedRequest& request) {
    std::lock_guard lock(mutex_);
    received_.push_back(request);
    arrived_.notify_all();
    if (!queue_.empty()) {
        ScriptedReply reply = std::move(queue_.front());
        queue_.pop_front();
        return reply;
    }
    if (handler_) return handler_(request);
    return ScriptedReply{404, {}, "not found", ScriptedReply::Action::respond};
}

void TestHttpsServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        openFds_.insert(fd);
        int connection = connections_++;
        threads_.emplace_back([this, fd, connection] { serve(fd, connection); });
    }
}

void TestHttpsServer::serve(int fd, int connection) {
    SSL* ssl = SSL_new(ctx_);
    SSL_set_fd(ssl, fd);
    std::string buffer;
    bool open = SSL_accept(ssl) == 1;
    while (open) {
        // One request: the head, then Content-Length bytes of body.
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            char chunk[4096];
            int n = SSL_read(ssl, chunk, sizeof chunk);
            if (n <= 0) {
                open = false;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        if (!open) break;
        ReceivedRequest request;
        request.connection = connection;
        if (!parseHead(std::string_view(buffer).substr(0, headEnd), request)) break;
        buffer.erase(0, headEnd + 4);
        std::size_t length = 0;
        if (auto cl = request.header("Content-Length")) length = std::stoul(*cl);
        while (buffer.size() < length) {
            char chunk[4096];
            int n = SSL_read(ssl, chunk, sizeof chunk);
            if (n <= 0) {
                open = false;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        if (!open) break;
        request.body = buffer.substr(0, length);
        buffer.erase(0, length);

        ScriptedReply reply = replyFor(request);
        if (reply.action == ScriptedReply::Action::closeWithoutReply) break;
        if (reply.action == ScriptedReply::Action::stall) {
            // Until the client hangs up or the server stops.
            for (;;) {
                {
                    std::lock_guard lock(mutex_);
                    if (stopping_) break;
                }
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0) break;
            }
            break;
        }
        std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonFor(reply.status) + "\r\n";
        for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
        head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n\r\n";
        if (reply.action == ScriptedReply::Action::closeMidBody) {
            sendAll(ssl, head + reply.body.substr(0, reply.body.size() / 2));
            break;
        }
        if (!sendAll(ssl, head + reply.body)) break;
        if (auto c = request.header("Connection"); c && strcasecmp(c->c_str(), "close") == 0) break;
    }
    SSL_free(ssl);
    {
        std::lock_guard lock(mutex_);
        openFds_.erase(fd);
    }
    ::close(fd);
}

}  // namespace quillant::testing
