#pragma once

#include <httplib.h>
#include <openssl/ssl.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace quillant::service {

// How much a request may be before anything of ours runs.
struct RequestBounds {
    std::size_t maxHeaderLines = 100;          // the request line and the header fields (and chunk trailers)
    std::size_t maxHeaderBytes = 16 * 1024;    // everything up to the blank line
    std::chrono::milliseconds deadline{10'000};  // from a request's first byte to its last
};

// What the front makes of the bytes a connection has sent so far.
struct RequestScan {
    enum class Verdict { incomplete, complete, headersTooLarge, bodyTooLarge, malformed };
    Verdict verdict = Verdict::incomplete;
    std::size_t length = 0;      // complete: the request's bytes (pipelined ones follow)
    std::size_t headLength = 0;  // bodyTooLarge: the request line and header fields, blank line included
};
RequestScan scanRequest(std::string_view bytes, const RequestBounds& bounds, std::size_t maxBodyBytes);

// The service's request handling (cpp-httplib's parsing, routing and
// answers) behind a front of our own, on a Unix domain socket (which Debian's
// cpp-httplib cannot listen on) or on plain TCP. The front reads each request
// whole, within RequestBounds and the body limit (chunked bodies too), on its
// one listening thread and without a worker; only a complete request goes to
// a worker. So a slow or endless sender holds no worker and no more memory
// than a request may have: 431, 413, 400 or 408 answer it, and the
// connection is closed. On the Unix socket only this user's processes are
// served. With TLS on TCP the front also ends TLS itself, the handshake
// included, under the same bounds. Also takes raw requests from memory.
class SocketFront final : public httplib::Server {
public:
    SocketFront();
    ~SocketFront() override;

    // Listens at `path`, replacing a stale socket left by an earlier run;
    // refuses when another service answers there. The socket is 0600.
    // Throws std::runtime_error with a message for the user.
    void bindUnix(const std::filesystem::path& path);
    // Listens on TCP; port 0 picks one. The port, or -1 (errno says why).
    int bindTcp(const std::string& host, int port);
    // Serves TLS (1.2 or later) on TCP with this PEM certificate chain and
    // key. Throws std::runtime_error when they cannot be used together.
    void useTls(const std::filesystem::path& certificate, const std::filesystem::path& privateKey);
    // Accepts until stopUnix(); complete requests are answered on the task
    // queue that new_task_queue makes. False when accepting failed.
    bool runUnix();
    // From any thread, also before runUnix(). Idle connections end at once.
    void stopUnix();

    void setRequestBounds(const RequestBounds& bounds) { bounds_ = bounds; }

    // The answer(s) to the raw request bytes, as they would go out on a connection.
    std::string handleRaw(std::string_view request);

private:
    using Tls = std::shared_ptr<SSL>;  // a connection's TLS state; none on plain connections
    struct Returned {
        int fd;
        Tls tls;
        std::string pending;  // bytes of the next request(s) already read
        std::size_t requestsLeft;
        bool drain;  // answered for the last time: read and drop what still comes, then close
    };
    void answer(int fd, Tls tls, std::string request, std::string rest, std::size_t requestsLeft);

    int listenFd_ = -1;
    bool unix_ = true;
    int stopPipe_[2] = {-1, -1};
    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::filesystem::path path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    RequestBounds bounds_;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> tlsContext_{nullptr, SSL_CTX_free};
    std::mutex returnedMutex_;
    std::deque<Returned> returned_;  // connections a worker is done with, back to the listener
};

}  // namespace quillant::service
