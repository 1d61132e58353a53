#pragma once

#include <chrono>
#include <filesystem>

namespace quillant::service {

// One service per socket. The lock is "<socket>.lock" beside the socket, in
// the same private folder; the kernel lets it go when the process ends, so a
// service that died leaves nothing that stops the next one.
class InstanceLock {
public:
    enum class Outcome {
        acquired,
        // Another service holds the lock and answers on the socket.
        anotherServes,
        // Another holds it and did not answer within the wait.
        anotherSilent,
    };

    // Makes (or checks) the private folder and takes the lock. A holder that
    // is still starting or already stopping is waited for, up to `wait`.
    // Throws std::runtime_error when the folder or the lock file is unusable.
    static Outcome acquire(const std::filesystem::path& socket, std::chrono::milliseconds wait, InstanceLock& lock);

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace quillant::service
