#pragma once

#include "runtime/Logger.h"

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>

namespace quillant::service {

class KeyFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The API keys the service accepts, read from a file with one key per line
// ("#" comments and blank lines ignored). Edits to the file are picked up on
// the next request. Only digests of the keys are kept in memory.
class KeyStore {
public:
    // Reads the file; throws KeyFileError when it cannot be read.
    KeyStore(std::filesystem::path file, Logger& log);

    // A stable identity for a known key (a digest, never the key), or nothing.
    std::optional<std::string> identify(std::string_view presentedKey);

    std::size_t count();
    const std::filesystem::path& file() const { return file_; }

    // A fresh random key, "qk_" and 48 hex digits.
    static std::string generateKey();
    // Appends a fresh key to the file, creating it (mode 0600) and its folders
    // (0700) as needed, and returns the key. Throws KeyFileError.
    static std::string addNewKey(const std::filesystem::path& file);

private:
    struct Signature {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        bool operator==(const Signature& o) const {
            return device == o.device && inode == o.inode && size == o.size &&
                   modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
        }
    };
    void reloadIfChanged();  // caller holds mutex_
    void load(const Signature& signature);

    std::filesystem::path file_;
    CategoryLogger log_;
    std::mutex mutex_;
    std::unordered_set<std::string> digests_;
    Signature loaded_;
    bool reportedMissing_ = false;
};

}  // namespace quillant::service
