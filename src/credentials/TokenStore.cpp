#include "credentials/TokenStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "runtime/AtomicFile.h"
#include "text/Text.h"

namespace quillant::credentials {

namespace {

// Far beyond any real key; a larger file is not a token file.
constexpr std::size_t kMaxTokenFileBytes = 64 * 1024;

}  // namespace

std::filesystem::path TokenStore::path() const { return home_ / ".config" / "quillant" / fileName_; }

std::optional<std::string> TokenStore::load() const {
    // Non-blocking so that a FIFO in the file's place cannot hang start-up.
    int fd = ::open(path().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::string contents;
    // A file another user owns is not our key: whoever put it there would choose where our texts go.
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    while (ok) {
        char buffer[4096];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        contents.append(buffer, static_cast<std::size_t>(n));
        if (contents.size() > kMaxTokenFileBytes) ok = false;
    }
    ::close(fd);
    if (!ok || !text::isValidUTF8(contents)) return std::nullopt;
    std::string key = text::trimmed(contents);
    if (key.empty()) return std::nullopt;
    return key;
}

std::optional<std::string> TokenStore::refusal(std::string_view token) {
    std::string key = text::trimmed(token);
    if (key.empty()) return "it is blank";
    // load() would refuse these, and the key would be gone after a restart.
    if (key.size() > kMaxTokenFileBytes) return "it is longer than " + std::to_string(kMaxTokenFileBytes) + " bytes";
    if (!text::isValidUTF8(key)) return "it is not valid UTF-8 text";
    // No request could carry these in its Authorization field (a tab it can).
    for (unsigned char c : key)
        if ((c < 0x20 && c != '\t') || c == 0x7f) return "it contains control characters";
    return std::nullopt;
}

bool TokenStore::save(std::string_view token) const {
    if (refusal(token)) return false;
    std::string key = text::trimmed(token);

    std::filesystem::path file = path();
    std::filesystem::path dir = file.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(dir.parent_path(), ec);
    if (ec) return false;
    // Our folder is private from the moment it exists, whatever the umask.
    if (::mkdir(dir.c_str(), 0700) == 0) ::chmod(dir.c_str(), 0700);
    else if (errno != EEXIST) return false;

    // Written aside and renamed into place, private from its first byte on.
    return replaceFileAtomically(file, key, 0600) == 0;
}

bool TokenStore::clear() const {
    if (::unlink(path().c_str()) == 0) return true;
    return errno == ENOENT;
}

std::optional<std::filesystem::path> userHomeDirectory(const char* homeVariable) {
    if (homeVariable && homeVariable[0] == '/') return std::filesystem::path(homeVariable);
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* result = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == ERANGE &&
           buffer.size() < (std::size_t{1} << 20))
        buffer.resize(buffer.size() * 2);
    if (!result || !result->pw_dir || result->pw_dir[0] != '/') return std::nullopt;
    return std::filesystem::path(result->pw_dir);
}

}  // namespace quillant::credentials
