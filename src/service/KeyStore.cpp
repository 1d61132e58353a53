#include "service/KeyStore.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "runtime/AtomicFile.h"

namespace quillant::service {

namespace {

std::string hex(const unsigned char* bytes, std::size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xf];
    }
    return out;
}

std::string digestOf(std::string_view key) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(key.data(), key.size(), md, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
    return hex(md, length);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string describeErrno(const std::string& what, const std::filesystem::path& file) {
    return what + " " + file.string() + ": " + std::strerror(errno);
}

}  // namespace

KeyStore::KeyStore(std::filesystem::path file, Logger& log)
    : file_(std::move(file)), log_(log, std::string(kLogSubsystem), "service") {
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0)
        throw KeyFileError(describeErrno("cannot read the keys file", file_));
    std::lock_guard lock(mutex_);
    load({st.st_dev, st.st_ino, st.st_size, st.st_mtim});
}

void KeyStore::load(const Signature& signature) {
    std::ifstream in(file_, std::ios::binary);
    if (!in) throw KeyFileError(describeErrno("cannot read the keys file", file_));
    std::unordered_set<std::string> digests;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string_view key = trimBlanks(line);
        if (key.empty() || key.front() == '#') continue;
        bool blankInside = false;
        for (char c : key) blankInside = blankInside || isBlank(c);
        if (blankInside) {
            log_.error("keys file " + file_.string() + " line " + std::to_string(number) +
                       ": a key must not contain blanks; line skipped");
            continue;
        }
        digests.insert(digestOf(key));
    }
    digests_ = std::move(digests);
    loaded_ = signature;
    reportedMissing_ = false;
    struct stat st {};
    if (::stat(file_.c_str(), &st) == 0 && (st.st_mode & 077) != 0)
        log_.error("keys file " + file_.string() + " can be read by other users; run: chmod 600 " + file_.string());
    log_.info("loaded " + std::to_string(digests_.size()) + (digests_.size() == 1 ? " key from " : " keys from ") +
              file_.string());
}

void KeyStore::reloadIfChanged() {
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) {
        if (!reportedMissing_)
            log_.error(describeErrno("cannot read the keys file", file_) + "; keeping the keys read before");
        reportedMissing_ = true;
        return;
    }
    Signature now{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    if (now == loaded_) return;
    try {
        load(now);
    } catch (const KeyFileError& e) {
        log_.error(std::string(e.what()) + "; keeping the keys read before");
    }
}

std::optional<std::string> KeyStore::identify(std::string_view presentedKey) {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    std::string digest = digestOf(presentedKey);
    if (digests_.count(digest) == 0) return std::nullopt;
    return digest;
}

std::size_t KeyStore::count() {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    return digests_.size();
}

std::string KeyStore::generateKey() {
    unsigned char bytes[24];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw KeyFileError("no secure random numbers available");
    return "qk_" + hex(bytes, sizeof bytes);
}

std::string KeyStore::addNewKey(const std::filesystem::path& file) {
    // Missing folders are created private, top down.
    std::vector<std::filesystem::path> missing;
    for (auto dir = file.parent_path(); !dir.empty() && !std::filesystem::exists(dir); dir = dir.parent_path()) {
        missing.push_back(dir);
        if (dir == dir.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) throw KeyFileError(describeErrno("cannot create", *it));

    // The keys so far (a link in the file's place is refused), then all of them
    // written aside and renamed over the file, private from the first byte on.
    std::string content;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd >= 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                KeyFileError error(describeErrno("cannot read", file));
                ::close(fd);
                throw error;
            }
            content.append(buffer, std::size_t(n));
        }
        ::close(fd);
    } else if (errno != ENOENT) {
        throw KeyFileError(describeErrno("cannot open the keys file", file));
    }
    if (!content.empty() && content.back() != '\n') content += '\n';
    std::string key = generateKey();
    content += key + "\n";
    if (int error = replaceFileAtomically(file, content, 0600)) {
        errno = error;
        throw KeyFileError(describeErrno("cannot write", file));
    }
    return key;
}

}  // namespace quillant::service
