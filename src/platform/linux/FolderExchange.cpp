#include "platform/linux/FolderExchange.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quillant::linux_platform {

namespace {

int renameExchange(const char* a, const char* b) {
#ifdef RENAME_EXCHANGE
    return ::renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE);
#else
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, a, AT_FDCWD, b, 2 /* RENAME_EXCHANGE */));
#endif
}

void syncFolder(const std::filesystem::path& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool exchangeUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

int exchangeFolders(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (renameExchange(a.c_str(), b.c_str()) != 0) return errno;
    // The swap is made; a sync that fails cannot undo it, so it does not change the answer.
    const auto pa = a.parent_path(), pb = b.parent_path();
    syncFolder(pb);
    if (pa != pb) syncFolder(pa);
    return 0;
}

}  // namespace quillant::linux_platform
