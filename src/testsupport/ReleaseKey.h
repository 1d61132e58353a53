#pragma once

#include <filesystem>
#include <string>

namespace quillant::testing {

// A release signing key pair made by scripts/release-key, as a test's own.
struct ReleaseKey {
    std::filesystem::path secret;
    std::string publicKey;  // minisign's form, as the program is built with

    // A new pair, its secret half written to `secret` (which must not exist).
    static ReleaseKey make(const std::filesystem::path& secret);
    // An existing secret key (the build tree's own, say).
    static ReleaseKey load(const std::filesystem::path& secret);
    // The detached signature (the .sig file's text) of `bytes`, as scripts/package makes it.
    std::string sign(const std::string& bytes) const;
};

}  // namespace quillant::testing
