#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillant::app {

// The key releases are signed with, in minisign's public-key form: base64 of
// "Ed", an 8-byte key id and the 32-byte Ed25519 public key (the second line
// of a minisign .pub file, which is also accepted whole).
struct ReleasePublicKey {
    std::array<std::uint8_t, 8> keyId{};
    std::array<std::uint8_t, 32> key{};

    static std::optional<ReleasePublicKey> parse(std::string_view text);
};

// Checks `file` against a detached signature in minisign's format (the
// prehashed "ED" kind: Ed25519 over the file's BLAKE2b-512, and over the
// signature plus its trusted comment). Nothing when it holds; otherwise why not.
std::optional<std::string> whyNotSignedBy(const std::filesystem::path& file, std::string_view signatureFile,
                                          const ReleasePublicKey& key);

}  // namespace quillant::app
