#include "service/SocketFront.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <openssl/err.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace quillant::service {

namespace {

int millisecondsOf(time_t sec, time_t usec) {
    long long ms = static_cast<long long>(sec) * 1000 + usec / 1000;
    return ms > 3'600'000 ? 3'600'000 : static_cast<int>(ms);
}

// A request the front has read whole, as cpp-httplib's stream; the answer
// goes out on the connection.
class AnswerStream final : public httplib::Stream {
public:
    AnswerStream(int fd, SSL* tls, std::string_view request, int writeTimeoutMs)
        : fd_(fd), tls_(tls), request_(request), writeTimeoutMs_(writeTimeoutMs) {}

    bool is_readable() const override { return position_ < request_.size(); }
    bool is_writable() const override { return ready(POLLOUT); }
    ssize_t read(char* ptr, size_t size) override {
        std::size_t take = std::min(size, request_.size() - position_);
        std::memcpy(ptr, request_.data() + position_, take);
        position_ += take;
        return static_cast<ssize_t>(take);
    }
    ssize_t write(const char* ptr, size_t size) override {
        std::size_t done = 0;
        while (done < size && tls_) {
            ERR_clear_error();
            const int n = SSL_write(tls_, ptr + done, int(std::min<std::size_t>(size - done, INT_MAX)));
            if (n > 0) {
                done += std::size_t(n);
                continue;
            }
            const int error = SSL_get_error(tls_, n);
            if (!(error == SSL_ERROR_WANT_WRITE && ready(POLLOUT)) && !(error == SSL_ERROR_WANT_READ && ready(POLLIN)))
                return -1;
        }
        while (done < size) {
            if (!is_writable()) return -1;
            ssize_t n = ::send(fd_, ptr + done, size - done, MSG_NOSIGNAL);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) return -1;
            done += static_cast<std::size_t>(n);
        }
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
    socket_t socket() const override { return fd_; }

private:
    bool ready(short events) const {
        pollfd p{fd_, events, 0};
        for (;;) {
            int n = ::poll(&p, 1, writeTimeoutMs_);
            if (n < 0 && errno == EINTR) continue;
            return n > 0 && (p.revents & events);
        }
    }

    int fd_;
    SSL* tls_;
    std::string_view request_;
    std::size_t position_ = 0;
    int writeTimeoutMs_;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Lines up to and including the first empty one, from `pos`: where they end,
// or nothing while incomplete; `tooLarge` when they pass the bounds.
std::optional<std::size_t> blockEnd(std::string_view bytes, std::size_t pos, const RequestBounds& bounds, bool& tooLarge,
                                    std::vector<std::string_view>* lines) {
    const std::size_t start = pos;
    std::size_t count = 0;
    for (;;) {
        std::size_t nl = bytes.find('\n', pos);
        const std::size_t end = nl == std::string_view::npos ? bytes.size() : nl + 1;
        if (end - start > bounds.maxHeaderBytes) {
            tooLarge = true;
            return std::nullopt;
        }
        if (nl == std::string_view::npos) return std::nullopt;
        std::string_view line = bytes.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = nl + 1;
        if (line.empty()) return pos;
        if (++count > bounds.maxHeaderLines) {
            tooLarge = true;
            return std::nullopt;
        }
        if (lines) lines->push_back(line);
    }
}

std::string refusal(int status, const char* reason, const char* error, const char* message) {
    const std::string body = std::string(R"({"error":")") + error + R"(","message":")" + message + "\"}";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: application/json\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

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

// What a connection has sent: its bytes, or what TLS makes of them (the
// handshake goes on inside). >0: that many; 0: the connection ended or TLS
// failed; -1: nothing now (`wantWrite`: not until TLS can write).
ssize_t receive(int fd, SSL* tls, char* buffer, std::size_t size, bool& wantWrite) {
    if (!tls) {
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, size, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
            return n < 0 ? 0 : n;
        }
    }
    ERR_clear_error();
    const int n = SSL_read(tls, buffer, int(std::min<std::size_t>(size, INT_MAX)));
    if (n > 0) return n;
    switch (SSL_get_error(tls, n)) {
        case SSL_ERROR_WANT_READ:
            return -1;
        case SSL_ERROR_WANT_WRITE:
            wantWrite = true;
            return -1;
        default:
            return 0;
    }
}

// A short answer sent without waiting: what does not fit now is dropped.
void sendNow(int fd, SSL* tls, std::string_view data) {
    if (!tls) {
        (void)!::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        return;
    }
    ERR_clear_error();
    if (SSL_is_init_finished(tls)) SSL_write(tls, data.data(), int(data.size()));
}

// Ends our side of a connection; TLS says so first.
void endWriting(int fd, SSL* tls) {
    if (tls && SSL_is_init_finished(tls)) {
        ERR_clear_error();
        SSL_shutdown(tls);
    }
    ::shutdown(fd, SHUT_WR);
}

// Connections the front holds at once; more wait in the kernel's queue.
constexpr std::size_t kMaxConnections = 1024;
// After a refusal the rest of what is sent is read and dropped for a moment,
// so that the client sees the answer rather than a reset.
constexpr auto kDrainTime = std::chrono::seconds(2);

}  // namespace

RequestScan scanRequest(std::string_view bytes, const RequestBounds& bounds, std::size_t maxBodyBytes) {
    using V = RequestScan::Verdict;
    // Blank lines before a request are allowed (and skipped by the parser).
    std::size_t pos = 0;
    while (pos < bytes.size() && (bytes[pos] == '\r' || bytes[pos] == '\n')) ++pos;
    if (pos > 64) return {V::malformed, 0};
    bool tooLarge = false;
    std::vector<std::string_view> lines;
    auto head = blockEnd(bytes, pos, bounds, tooLarge, &lines);
    if (tooLarge) return {V::headersTooLarge, 0};
    if (!head) return {V::incomplete, 0};
    if (lines.empty()) return {V::malformed, 0};

    bool chunked = false;
    std::optional<std::size_t> contentLength;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon == std::string_view::npos) continue;
        const auto name = lines[i].substr(0, colon), value = trimmed(lines[i].substr(colon + 1));
        if (equalsIgnoringCase(name, "Transfer-Encoding")) {
            chunked = true;
            if (!equalsIgnoringCase(value, "chunked")) return {V::malformed, 0};
        } else if (equalsIgnoringCase(name, "Content-Length")) {
            if (value.empty() || value.size() > 18 || !std::all_of(value.begin(), value.end(), ::isdigit))
                return {V::malformed, 0};
            const std::size_t n = std::stoull(std::string(value));
            if (contentLength && *contentLength != n) return {V::malformed, 0};
            contentLength = n;
        }
    }
    if (chunked && contentLength) return {V::malformed, 0};
    if (!chunked) {
        const std::size_t n = contentLength.value_or(0);
        if (n > maxBodyBytes) return {V::bodyTooLarge, 0, *head};
        if (bytes.size() - *head < n) return {V::incomplete, 0};
        return {V::complete, *head + n};
    }
    // Chunked: the data counts against the body limit, the framing against a
    // small allowance of its own, the trailers as header fields.
    pos = *head;
    std::size_t data = 0, chunks = 0;
    for (;;) {
        const std::size_t nl = bytes.find('\n', pos);
        if (nl == std::string_view::npos) return {bytes.size() - pos > 1024 ? V::malformed : V::incomplete, 0};
        std::string_view sizeLine = trimmed(bytes.substr(pos, nl - pos));
        sizeLine = trimmed(sizeLine.substr(0, sizeLine.find(';')));
        if (sizeLine.empty() || sizeLine.size() > 15 || !std::all_of(sizeLine.begin(), sizeLine.end(), ::isxdigit))
            return {V::malformed, 0};
        const std::size_t size = std::stoull(std::string(sizeLine), nullptr, 16);
        pos = nl + 1;
        if (size == 0) {
            auto end = blockEnd(bytes, pos, bounds, tooLarge, nullptr);
            if (tooLarge) return {V::headersTooLarge, 0};
            if (!end) return {V::incomplete, 0};
            return {V::complete, *end};
        }
        data += size;
        if (data > maxBodyBytes || ++chunks > 4096) return {V::bodyTooLarge, 0, *head};
        if (bytes.size() - pos < size + 2) return {V::incomplete, 0};
        pos += size;
        if (bytes.substr(pos, 2) == "\r\n") pos += 2;
        else if (bytes[pos] == '\n') pos += 1;
        else return {V::malformed, 0};
    }
}

SocketFront::SocketFront() {
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot create a pipe");
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
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
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
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    listenFd_ = fd;
    unix_ = true;
    path_ = path;
    device_ = st.st_dev;
    inode_ = st.st_ino;
}

int SocketFront::bindTcp(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) return -1;
    int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int yes = 1;
    // SO_REUSEPORT never: a second service must not share the port unnoticed.
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const bool ok = fd >= 0 && ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 128) == 0;
    ::freeaddrinfo(found);
    if (!ok) {
        const int e = errno;
        if (fd >= 0) ::close(fd);
        errno = e;
        return -1;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    listenFd_ = fd;
    unix_ = false;
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

void SocketFront::useTls(const std::filesystem::path& certificate, const std::filesystem::path& privateKey) {
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    const bool ok = context && SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) == 1 &&
                    SSL_CTX_use_certificate_chain_file(context.get(), certificate.c_str()) == 1 &&
                    SSL_CTX_use_PrivateKey_file(context.get(), privateKey.c_str(), SSL_FILETYPE_PEM) == 1 &&
                    SSL_CTX_check_private_key(context.get()) == 1;
    ERR_clear_error();
    if (!ok)
        throw std::runtime_error("cannot use the TLS certificate " + certificate.string() + " with the key " +
                                 privateKey.string());
    // Answers may go out in pieces, from a buffer that is not the first one;
    // idle connections give their buffers back; a client cannot make the
    // listener renegotiate.
    SSL_CTX_set_mode(context.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET);
    // Nothing is sent unasked: no session tickets after the handshake (nor kept for resumption).
    SSL_CTX_set_num_tickets(context.get(), 0);
    // TLS writes with write(2), which a peer that went away answers with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    tlsContext_ = std::move(context);
}

bool SocketFront::runUnix() {
    using Clock = std::chrono::steady_clock;
    using V = RequestScan::Verdict;
    if (listenFd_ < 0) throw std::logic_error("SocketFront::runUnix() before bindUnix()");
    std::unique_ptr<httplib::TaskQueue> queue(new_task_queue ? new_task_queue() : new httplib::ThreadPool(8));
    const auto idleFirst = std::chrono::milliseconds(millisecondsOf(read_timeout_sec_, read_timeout_usec_));
    const auto idleBetween = std::chrono::milliseconds(millisecondsOf(keep_alive_timeout_sec_, 0));
    const std::size_t maxBody = payload_max_length_;

    struct Connection {
        Tls tls;
        bool wantWrite = false;  // TLS waits to write before it can read on
        std::string bytes;
        std::optional<Clock::time_point> firstByte;  // of the request being read
        Clock::time_point idleSince;
        std::size_t requestsLeft = 0;
        bool first = true;
        std::optional<Clock::time_point> drainUntil;  // refused: reading and dropping until then
    };
    std::map<int, Connection> open;

    auto refuse = [](int fd, Connection& c, const std::string& answer) {
        sendNow(fd, c.tls.get(), answer);
        endWriting(fd, c.tls.get());
        std::string().swap(c.bytes);
        c.drainUntil = Clock::now() + kDrainTime;
    };
    // Hands a complete request to a worker; answers a bad one here. True while the listener keeps it.
    auto examine = [&](int fd, Connection& c) {
        if (!c.firstByte && !c.bytes.empty()) c.firstByte = Clock::now();
        const RequestScan scan = scanRequest(c.bytes, bounds_, maxBody);
        switch (scan.verdict) {
            case V::incomplete:
                return;
            case V::headersTooLarge:
                return refuse(fd, c, refusal(431, "Request Header Fields Too Large", "headers_too_large",
                                             "The request's header fields are too many or too long"));
            case V::bodyTooLarge: {
                // The head alone, its body announced at a length past the limit: the library
                // refuses it with the service's own answer, and nothing of the body is read.
                std::string head;
                std::string_view rest(c.bytes.data(), scan.headLength);
                while (!rest.empty()) {
                    const std::size_t nl = rest.find('\n');
                    const std::string_view line = rest.substr(0, nl == std::string_view::npos ? rest.size() : nl + 1);
                    rest.remove_prefix(line.size());
                    const std::string_view name = line.substr(0, line.find(':'));
                    if (equalsIgnoringCase(name, "Content-Length") || equalsIgnoringCase(name, "Transfer-Encoding")) continue;
                    if (line == "\r\n" || line == "\n") head += "Content-Length: " + std::to_string(maxBody + 1) + "\r\n";
                    head += line;
                }
                Tls tls = c.tls;
                open.erase(fd);
                queue->enqueue([this, fd, tls, head = std::move(head)]() mutable {
                    answer(fd, std::move(tls), std::move(head), {}, 1);
                });
                return;
            }
            case V::malformed: {
                // The library says what it makes of it; what it has is all it gets.
                std::string bytes = std::move(c.bytes);
                Tls tls = c.tls;
                open.erase(fd);
                queue->enqueue([this, fd, tls, bytes = std::move(bytes)]() mutable {
                    answer(fd, std::move(tls), std::move(bytes), {}, 1);
                });
                return;
            }
            case V::complete: {
                std::string request = c.bytes.substr(0, scan.length);
                std::string rest = c.bytes.substr(scan.length);
                const std::size_t left = c.requestsLeft;
                Tls tls = c.tls;
                open.erase(fd);
                queue->enqueue([this, fd, tls, request = std::move(request), rest = std::move(rest), left]() mutable {
                    answer(fd, std::move(tls), std::move(request), std::move(rest), left);
                });
                return;
            }
        }
    };

    std::vector<char> buffer(64 * 1024);
    // Reads what a connection has for us; false when it ended. What one
    // connection may have in hand is bounded by the scan, which runs after every read.
    auto readFrom = [&](int fd, Connection& c) {
        SSL* tls = c.tls.get();
        for (int reads = 0; reads < 16 || (tls && !c.drainUntil && SSL_pending(tls) > 0); ++reads) {
            if (c.drainUntil) {
                // Refused: whatever still comes is dropped unread, TLS or not.
                const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
                if (n <= 0) return false;
                continue;
            }
            const ssize_t n = receive(fd, tls, buffer.data(), buffer.size(), c.wantWrite);
            if (n < 0) return true;
            if (n == 0) return false;
            c.bytes.append(buffer.data(), std::size_t(n));
            if (c.bytes.size() > bounds_.maxHeaderBytes + maxBody + 64 * 1024) break;
            // A short read emptied the socket; TLS hands out one record at a time.
            if (!tls && std::size_t(n) < buffer.size()) break;
        }
        return true;
    };

    bool clean = true;
    std::vector<pollfd> fds;
    while (!stopping_) {
        std::deque<Returned> back;
        {
            std::lock_guard lock(returnedMutex_);
            back.swap(returned_);
        }
        for (auto& r : back) {
            Connection& c = open[r.fd];
            c.tls = std::move(r.tls);
            if (r.drain) {
                c.drainUntil = Clock::now() + kDrainTime;
                continue;
            }
            c.bytes = std::move(r.pending);
            c.requestsLeft = r.requestsLeft;
            c.first = false;
            c.idleSince = Clock::now();
            // TLS may hold more of what was sent than the socket shows.
            if (c.tls && SSL_pending(c.tls.get()) > 0 && !readFrom(r.fd, c)) {
                ::close(r.fd);
                open.erase(r.fd);
                continue;
            }
            examine(r.fd, c);
        }

        // Time-outs, and how long poll may wait for the next one.
        const auto now = Clock::now();
        int timeoutMs = -1;  // no time-out: an idle service does not wake up
        for (auto it = open.begin(); it != open.end();) {
            Connection& c = it->second;
            const Clock::time_point due = c.drainUntil ? *c.drainUntil
                                          : c.firstByte ? *c.firstByte + bounds_.deadline
                                                        : c.idleSince + (c.first ? idleFirst : idleBetween);
            if (now >= due) {
                if (!c.drainUntil && c.firstByte) {
                    const std::string late = refusal(408, "Request Timeout", "request_timeout",
                                                     "The request did not arrive in time");
                    sendNow(it->first, c.tls.get(), late);
                }
                ::close(it->first);
                it = open.erase(it);
                continue;
            }
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
            timeoutMs = timeoutMs < 0 ? int(ms) : std::min(timeoutMs, int(ms));
            ++it;
        }

        fds.clear();
        fds.push_back({open.size() < kMaxConnections ? listenFd_ : -1, POLLIN, 0});
        fds.push_back({stopPipe_[0], POLLIN, 0});
        fds.push_back({wakePipe_[0], POLLIN, 0});
        for (const auto& [fd, c] : open) fds.push_back({fd, short(POLLIN | (c.wantWrite ? POLLOUT : 0)), 0});
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
            if (errno == EINTR) continue;
            clean = false;
            break;
        }
        if (fds[1].revents) break;
        if (fds[2].revents) {
            char drain[64];
            while (::read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
        }
        for (std::size_t i = 3; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            const int fd = fds[i].fd;
            auto it = open.find(fd);
            if (it == open.end()) continue;
            Connection& c = it->second;
            c.wantWrite = false;
            if (!readFrom(fd, c)) {
                ::close(fd);
                open.erase(it);
                continue;
            }
            if (!c.drainUntil) examine(fd, c);
        }
        if (fds[0].fd >= 0 && fds[0].revents) {
            for (int accepted = 0; accepted < 64 && open.size() < kMaxConnections; ++accepted) {
                int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0) {
                    if (errno == EINTR || errno == ECONNABORTED) continue;
                    if (errno == EMFILE || errno == ENFILE) {
                        // Out of descriptors: let the connections in hand finish first.
                        pollfd stop{stopPipe_[0], POLLIN, 0};
                        ::poll(&stop, 1, 100);
                    }
                    break;
                }
                if (unix_) {
                    // The folder keeps others out; the peer's identity is checked all the same.
                    ucred peer{};
                    socklen_t len = sizeof peer;
                    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 ||
                        (peer.uid != ::geteuid() && peer.uid != 0)) {
                        ::close(fd);
                        continue;
                    }
                }
                Tls tls;
                if (tlsContext_) {
                    // The handshake happens as the connection is read, within its first time-out.
                    SSL* ssl = SSL_new(tlsContext_.get());
                    if (!ssl || SSL_set_fd(ssl, fd) != 1) {
                        if (ssl) SSL_free(ssl);
                        ::close(fd);
                        continue;
                    }
                    SSL_set_accept_state(ssl);
                    tls = Tls(ssl, SSL_free);
                }
                Connection& c = open[fd];
                c.tls = std::move(tls);
                c.idleSince = Clock::now();
                c.requestsLeft = keep_alive_max_count_;
            }
        }
    }
    for (const auto& [fd, c] : open) ::close(fd);
    queue->shutdown();
    std::lock_guard lock(returnedMutex_);
    for (const auto& r : returned_) ::close(r.fd);
    returned_.clear();
    return clean || stopping_;
}

void SocketFront::stopUnix() {
    stopping_ = true;
    char c = 's';
    (void)!::write(stopPipe_[1], &c, 1);
}

void SocketFront::answer(int fd, Tls tls, std::string request, std::string rest, std::size_t requestsLeft) {
    AnswerStream stream(fd, tls.get(), request, millisecondsOf(write_timeout_sec_, write_timeout_usec_));
    bool closed = false;
    const bool last = requestsLeft <= 1 || stopping_;
    const bool ends = !process_request(stream, last, closed, noSetup) || closed || last;
    if (ends && stopping_) {
        ::close(fd);
        return;
    }
    // A connection that ends is closed by the listener once the client has
    // stopped sending (or after a moment), so that it reads the answer rather than a reset.
    if (ends) endWriting(fd, tls.get());
    std::lock_guard lock(returnedMutex_);
    returned_.push_back({fd, std::move(tls), ends ? std::string() : std::move(rest), ends ? 0 : requestsLeft - 1, ends});
    char c = 'w';
    (void)!::write(wakePipe_[1], &c, 1);
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
