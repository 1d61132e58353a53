#include "testsupport/SocketForwarder.h"

#include "backend/BackendProtocol.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <stdexcept>

namespace quillant::testing {

SocketForwarder::SocketForwarder(std::filesystem::path socketPath, int tcpPort)
    : path_(std::move(socketPath)), port_(tcpPort) {
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.string().size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long: " + path_.string());
    std::strcpy(addr.sun_path, path_.c_str());
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 64) != 0)
        throw std::runtime_error("cannot listen on " + path_.string() + ": " + std::strerror(errno));
    if (::pipe2(wakeFd_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    acceptor_ = std::thread([this] { acceptLoop(); });
}

SocketForwarder::~SocketForwarder() {
    stopping_ = true;
    char c = 'x';
    (void)!::write(wakeFd_[1], &c, 1);
    acceptor_.join();
    for (auto& t : pumps_) t.join();
    ::close(listenFd_);
    ::close(wakeFd_[0]);
    ::close(wakeFd_[1]);
    ::unlink(path_.c_str());
}

std::string SocketForwarder::baseURL() const { return backend::localSocketURL(path_.string()); }

void SocketForwarder::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        pumps_.emplace_back([this, client] {
            int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(port_));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                bool open[2] = {true, true};  // client->server, server->client
                char buffer[65536];
                while ((open[0] || open[1]) && !stopping_) {
                    pollfd p[3] = {{open[0] ? client : -1, POLLIN, 0}, {open[1] ? server : -1, POLLIN, 0},
                                   {wakeFd_[0], POLLIN, 0}};
                    if (::poll(p, 3, 200) < 0 || p[2].revents) break;
                    for (int side = 0; side < 2; ++side) {
                        if (!p[side].revents) continue;
                        const int from = side == 0 ? client : server, to = side == 0 ? server : client;
                        ssize_t n = ::read(from, buffer, sizeof buffer);
                        if (n <= 0) {
                            open[side] = false;
                            ::shutdown(to, SHUT_WR);
                            continue;
                        }
                        for (ssize_t done = 0; done < n;) {
                            ssize_t w = ::send(to, buffer + done, std::size_t(n - done), MSG_NOSIGNAL);
                            if (w <= 0) break;
                            done += w;
                        }
                    }
                    if (!open[1]) break;  // the server is done: the answer is complete
                }
            }
            ::close(server);
            ::close(client);
        });
    }
}

}  // namespace quillant::testing
