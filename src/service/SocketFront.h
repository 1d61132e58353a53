#pragma once

#include <httplib.h>

#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillant::service {

// The service's request handling (cpp-httplib's parsing, routing and
// answers) behind a listener of our own on a Unix domain socket, which
// Debian's cpp-httplib cannot listen on by itself. Only connections from
// this user's processes are served. Also takes raw requests from memory.
class SocketFront final : public httplib::Server {
public:
    SocketFront();
    ~SocketFront() override;

    // Listens at `path`, replacing a stale socket left by an earlier run;
    // refuses when another service answers there. The socket is 0600.
    // Throws std::runtime_error with a message for the user.
    void bindUnix(const std::filesystem::path& path);
    // Accepts until stopUnix(); connections are served on the task queue
    // that new_task_queue makes. False when accepting failed.
    bool runUnix();
    // From any thread, also before runUnix(). Idle connections end at once.
    void stopUnix();

    // The answer(s) to the raw request bytes, as they would go out on a connection.
    std::string handleRaw(std::string_view request);

private:
    void serveConnection(int fd);

    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::filesystem::path path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace quillant::service
