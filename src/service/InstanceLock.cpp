#include "service/InstanceLock.h"

#include "platform/linux/PrivateRuntimeDir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace quillant::service {

InstanceLock::Outcome InstanceLock::acquire(const std::filesystem::path& socket, std::chrono::milliseconds wait,
                                            InstanceLock& lock) {
    linux_platform::ensurePrivateFolder(socket.parent_path());
    const std::filesystem::path file = socket.string() + ".lock";
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) throw std::runtime_error("cannot open the lock " + file.string() + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        throw std::runtime_error(file.string() + " is not a file of this user's; remove it");
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (lock.fd_ >= 0) ::close(lock.fd_);
            lock.fd_ = fd;
            return Outcome::acquired;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const std::string why = std::strerror(errno);
            ::close(fd);
            throw std::runtime_error("cannot lock " + file.string() + ": " + why);
        }
        if (linux_platform::unixSocketAnswers(socket)) {
            ::close(fd);
            return Outcome::anotherServes;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return Outcome::anotherSilent;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace quillant::service
