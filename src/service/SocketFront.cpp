#include "service/SocketFront.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace quillant::service {

namespace {

int millisecondsOf(time_t sec, time_t usec) {
    long long ms = static_cast<long long>(sec) * 1000 + usec / 1000;
    return ms > 3'600'000 ? 3'600'000 : static_cast<int>(ms);
}

// Waits until `fd` can be read (or has hung up); false on time-out or stop.
bool waitReadable(int fd, int stopFd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        int n = ::poll(fds, stopFd >= 0 ? 2 : 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 && fds[0].revents != 0 && (stopFd < 0 || fds[1].revents == 0);
    }
}

// A connected socket as cpp-httplib's stream, read through a buffer (the
// library reads request lines a byte at a time).
class SocketStream final : public httplib::Stream {
public:
    SocketStream(int fd, int stopFd, int readTimeoutMs, int writeTimeoutMs)
        : fd_(fd), stopFd_(stopFd), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

    bool buffered() const { return begin_ < end_; }

    bool is_readable() const override { return buffered() || waitReadable(fd_, stopFd_, readTimeoutMs_); }
    bool is_writable() const override {
        pollfd p{fd_, POLLOUT, 0};
        for (;;) {
            int n = ::poll(&p, 1, writeTimeoutMs_);
            if (n < 0 && errno == EINTR) continue;
            return n > 0 && (p.revents & POLLOUT);
        }
    }
    ssize_t read(char* ptr, size_t size) override {
        if (!buffered()) {
            if (!waitReadable(fd_, stopFd_, readTimeoutMs_)) return -1;
            ssize_t n;
            do n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        std::size_t take = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, take);
        begin_ += take;
        return static_cast<ssize_t>(take);
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        ssize_t n;
        do n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = "local";
        port = 0;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "local";
        port = 0;
    }
    socket_t socket() const override { return fd_; }

private:
    int fd_;
    int stopFd_;
    int readTimeoutMs_;
    int writeTimeoutMs_;
    char buffer_[4096];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// Raw bytes in, raw bytes out.
class MemoryStream final : public httplib::Stream {
public:
    explicit MemoryStream(std::string_view input) : input_(input) {}
    bool remaining() const { return position_ < input_.size(); }
    std::string& output() { return output_; }

    bool is_readable() const override { return remaining(); }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        std::size_t take = std::min(size, input_.size() - position_);
        std::memcpy(ptr, input_.data() + position_, take);
        position_ += take;
        return static_cast<ssize_t>(take);
    }
    ssize_t write(const char* ptr, size_t size) override {
        output_.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = "local";
        port = 0;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "local";
        port = 0;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    std::string_view input_;
    std::size_t position_ = 0;
    std::string output_;
};

void noSetup(httplib::Request&) {}

}  // namespace

SocketFront::SocketFront() {
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create a pipe");
}

SocketFront::~SocketFront() {
    stopUnix();
    if (listenFd_ >= 0) ::close(listenFd_);
    // Remove our socket, but not one that a later service put in its place.
    struct stat st {};
    if (!path_.empty() && ::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
        ::unlink(path_.c_str());
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

void SocketFront::bindUnix(const std::filesystem::path& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string p = path.string();
    if (p.size() >= sizeof addr.sun_path)
        throw std::runtime_error("the socket path " + p + " is too long (" + std::to_string(p.size()) +
                                 " bytes; at most " + std::to_string(sizeof addr.sun_path - 1) + ")");
    std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
    auto* sa = reinterpret_cast<sockaddr*>(&addr);

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(std::string("cannot create a socket: ") + std::strerror(errno));
    auto fail = [&](const std::string& message) {
        ::close(fd);
        throw std::runtime_error(message);
    };
    if (::bind(fd, sa, sizeof addr) != 0) {
        if (errno != EADDRINUSE) fail("cannot listen on " + p + ": " + std::strerror(errno));
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) fail(p + " exists and is not a socket");
        // A live service answers; a stale socket from a run that ended does not.
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool live = probe >= 0 && ::connect(probe, sa, sizeof addr) == 0;
        if (probe >= 0) ::close(probe);
        if (live) fail("another service is already listening on " + p);
        ::unlink(p.c_str());
        if (::bind(fd, sa, sizeof addr) != 0) fail("cannot listen on " + p + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::chmod(p.c_str(), 0600) != 0 || ::lstat(p.c_str(), &st) != 0 || ::listen(fd, 128) != 0) {
        int e = errno;
        ::unlink(p.c_str());
        fail("cannot listen on " + p + ": " + std::strerror(e));
    }
    listenFd_ = fd;
    path_ = path;
    device_ = st.st_dev;
    inode_ = st.st_ino;
}

bool SocketFront::runUnix() {
    if (listenFd_ < 0) throw std::logic_error("SocketFront::runUnix() before bindUnix()");
    std::unique_ptr<httplib::TaskQueue> queue(new_task_queue ? new_task_queue() : new httplib::ThreadPool(8));
    bool clean = true;
    while (!stopping_) {
        // No time-out: an idle service does not wake up.
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            clean = false;
            break;
        }
        if (fds[1].revents) break;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: let the connections in hand finish first.
                pollfd stop{stopPipe_[0], POLLIN, 0};
                ::poll(&stop, 1, 100);
                continue;
            }
            clean = false;
            break;
        }
        // The folder keeps others out; the peer's identity is checked all the same.
        ucred peer{};
        socklen_t len = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || (peer.uid != ::geteuid() && peer.uid != 0)) {
            ::close(fd);
            continue;
        }
        queue->enqueue([this, fd] { serveConnection(fd); });
    }
    queue->shutdown();
    return clean || stopping_;
}

void SocketFront::stopUnix() {
    stopping_ = true;
    char c = 's';
    (void)!::write(stopPipe_[1], &c, 1);
}

void SocketFront::serveConnection(int fd) {
    SocketStream stream(fd, stopPipe_[0], millisecondsOf(read_timeout_sec_, read_timeout_usec_),
                        millisecondsOf(write_timeout_sec_, write_timeout_usec_));
    const int keepAliveMs = millisecondsOf(keep_alive_timeout_sec_, 0);
    for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
        if (!stream.buffered() && !waitReadable(fd, stopPipe_[0], keepAliveMs)) break;
        bool closed = false;
        if (!process_request(stream, left == 1 || stopping_, closed, noSetup) || closed) break;
    }
    ::close(fd);
}

std::string SocketFront::handleRaw(std::string_view request) {
    MemoryStream stream(request);
    // Pipelined requests are answered in turn, as on a connection.
    for (int i = 0; i < 16 && stream.remaining(); ++i) {
        bool closed = false;
        if (!process_request(stream, false, closed, noSetup) || closed) break;
    }
    return std::move(stream.output());
}

}  // namespace quillant::service
