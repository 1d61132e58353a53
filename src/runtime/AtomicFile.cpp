#include "runtime/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

namespace quillant {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

namespace {

// A new file ".NAME.XXXXXX" beside `target`, opened for writing; -1 with errno set.
int createBeside(const std::filesystem::path& target, mode_t mode, std::string& name) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, '\0');
        for (char& c : suffix) c = kLetters[pick(random)];
        name = (target.parent_path() / ("." + target.filename().string() + "." + suffix)).string();
        // O_EXCL: never someone else's file or link. The umask can only narrow `mode`;
        // fchmod then sets exactly `mode` before any byte is written.
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) {
            if (::fchmod(fd, mode) == 0) return fd;
            int error = errno;
            ::close(fd);
            ::unlink(name.c_str());
            errno = error;
            return -1;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

}  // namespace

int replaceFileAtomically(const std::filesystem::path& target, std::string_view bytes, mode_t mode) {
    std::string name;
    int fd = createBeside(target, mode, name);
    if (fd < 0) return errno;

    int error = 0;
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(name.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(name.c_str());
        return error;
    }
    // A failure here leaves a correct file that a crash might still roll back.
    std::string folder = target.has_parent_path() ? target.parent_path().string() : std::string(".");
    int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        ::fsync(dirfd);
        ::close(dirfd);
    }
    return 0;
}

}  // namespace quillant
