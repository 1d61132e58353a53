#include "platform/linux/PrivateRuntimeDir.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace quillant::linux_platform {

namespace {

// The user's home: $HOME when it is absolute, else the account's.
std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    if (const passwd* account = ::getpwuid(::geteuid()); account && account->pw_dir && account->pw_dir[0] == '/')
        return account->pw_dir;
    return {};
}

// Whether nobody but us (and root) can add to or rename within `folder`.
bool onlyWeWriteIn(const std::filesystem::path& folder) {
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && !(st.st_mode & 022);
}

}  // namespace

std::filesystem::path runtimeFolder(const char* xdgRuntimeDir) {
    // Only an absolute value counts, as the XDG directory rules say.
    if (xdgRuntimeDir && xdgRuntimeDir[0] == '/') return std::filesystem::path(xdgRuntimeDir) / "quillant";
    const std::string uid = std::to_string(::geteuid());
    const std::filesystem::path loginRuntime = std::filesystem::path("/run/user") / uid;
    struct stat st {};
    if (::lstat(loginRuntime.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return loginRuntime / "quillant";
    // Not /tmp: another user could make our folder there first, and nobody
    // but its maker could remove it (the sticky bit). The home is ours.
    const std::filesystem::path home = homeFolder();
    if (!home.empty()) return home / ".cache" / "quillant-runtime";
    return std::filesystem::path("/tmp") / ("quillant-" + uid);
}

std::filesystem::path localServiceSocket(const char* xdgRuntimeDir) {
    return runtimeFolder(xdgRuntimeDir) / "service.sock";
}

bool unixSocketAnswers(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string p = path.string();
    if (p.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, p.c_str(), p.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    // A listening socket takes the connection into its backlog at once; a
    // full backlog (EAGAIN) is a busy listener, still one that is there.
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
                         errno == EAGAIN;
    ::close(fd);
    return answers;
}

std::optional<std::string> whyNotPrivate(const std::filesystem::path& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return std::nullopt;
    // What the user can do about it depends on who may write where it stands:
    // in a folder open to others (/tmp, sticky) only its maker can remove it.
    const std::filesystem::path parent = folder.parent_path();
    if (!onlyWeWriteIn(parent)) {
        const std::string where = folder.string() + " is in " + parent.string() +
                                  ", where other users can create files; set XDG_RUNTIME_DIR to a folder of your own";
        if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return where;
    }
    if (S_ISLNK(st.st_mode)) return folder.string() + " is a symbolic link, not a folder of its own; remove it";
    if (!S_ISDIR(st.st_mode)) return folder.string() + " is not a folder; remove it";
    if (st.st_uid != ::geteuid())
        return folder.string() + " belongs to another user (uid " + std::to_string(st.st_uid) +
               "); move it aside with mv (the folder it is in is yours)";
    if (st.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return folder.string() + " is open to other users (mode " + mode + "); run chmod 700 on it";
    }
    return std::nullopt;
}

void ensurePrivateFolder(const std::filesystem::path& folder) {
    std::filesystem::path parent = folder.parent_path();
    // A missing runtime directory (or cache folder) is made as private as it would be.
    if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + parent.string() + ": " + std::strerror(errno));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + folder.string() + ": " + std::strerror(errno));
    if (auto why = whyNotPrivate(folder)) throw std::runtime_error("refusing to use " + folder.string() + ": " + *why);
}

}  // namespace quillant::linux_platform
