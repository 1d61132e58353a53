#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillant::credentials {

// The API key in one private file, ~/.config/quillant/token: UTF-8, the
// trimmed key only, mode 0600. Holds nothing but the home directory; every
// operation reads or writes the disk afresh and never reports more than its
// result. The key is never logged.
class TokenStore {
public:
    explicit TokenStore(std::filesystem::path home) : home_(std::move(home)) {}
    // Another key kept by the same rules beside it, e.g. the local corrector's.
    TokenStore(std::filesystem::path home, std::string fileName)
        : home_(std::move(home)), fileName_(std::move(fileName)) {}

    std::filesystem::path path() const;

    // The stored key, trimmed; none if the file is missing, unreadable, not
    // UTF-8, blank, or implausibly large for a key.
    std::optional<std::string> load() const;

    // Why a key cannot be stored so that load() gives it back and it can go
    // out as a bearer token: none when it can. Looks at the trimmed key.
    static std::optional<std::string> refusal(std::string_view token);

    // Stores the trimmed key. A key refused by refusal() (blank, not UTF-8,
    // control characters, too large) is refused before the disk is
    // touched. The file is replaced atomically and is never readable by
    // anyone but the owner, not even for a moment.
    bool save(std::string_view token) const;

    // True when no key file remains (also when there was none).
    bool clear() const;

private:
    std::filesystem::path home_;
    std::string fileName_ = "token";
};

// The user's home directory: `homeVariable` (the value of $HOME) when it is an
// absolute path, else the password database's entry for this user.
std::optional<std::filesystem::path> userHomeDirectory(const char* homeVariable);

}  // namespace quillant::credentials
