#include "testsupport/PlainHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace quillant::testing {

PlainHttpServer::PlainHttpServer(std::string host, int port, Handler handler)
    : host_(std::move(host)), handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host_.c_str(), &addr.sin_addr) != 1) throw std::runtime_error("bad address " + host_);
    int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 16) != 0) {
        int e = errno;
        ::close(listenFd_);
        throw std::runtime_error("cannot listen on " + host_ + ":" + std::to_string(port) + ": " + std::strerror(e));
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (::pipe2(wakeFd_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    acceptor_ = std::thread([this] { acceptLoop(); });
}

PlainHttpServer::~PlainHttpServer() {
    char c = 'x';
    (void)!::write(wakeFd_[1], &c, 1);
    acceptor_.join();
    ::close(listenFd_);
    ::close(wakeFd_[0]);
    ::close(wakeFd_[1]);
}

std::vector<std::string> PlainHttpServer::targets() const {
    std::lock_guard lock(mutex_);
    return targets_;
}

std::string PlainHttpServer::allBytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::string PlainHttpServer::reply(int status, const std::string& headers, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
}

// One connection at a time, which is all the tests need.
void PlainHttpServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        std::string request;
        char buffer[4096];
        // Headers, then as much body as Content-Length says (or whatever comes within a moment).
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
            auto end = request.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            std::size_t length = 0;
            if (auto at = request.find("Content-Length: "); at != std::string::npos && at < end)
                length = std::stoul(request.substr(at + 16));
            if (request.size() >= end + 4 + length) break;
        }
        std::string target;
        if (auto sp = request.find(' '); sp != std::string::npos)
            target = request.substr(sp + 1, request.find(' ', sp + 1) - sp - 1);
        {
            std::lock_guard lock(mutex_);
            bytes_ += request;
            targets_.push_back(target);
        }
        std::string answer = handler_ ? handler_(target) : reply(200, "Content-Type: application/json\r\n",
                                                                  R"({"corrected":"typed by someone else","valid":true})");
        (void)!::write(fd, answer.data(), answer.size());
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
}

}  // namespace quillant::testing
