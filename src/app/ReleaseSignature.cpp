#include "app/ReleaseSignature.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace quillant::app {

namespace {

// Strict base64 (no blanks, padding only at the end), or nothing.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0 || text.size() > 4096) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool alphabet = std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/';
        const bool padding = c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text.back() == '=');
        if (!alphabet && !padding) return std::nullopt;
    }
    std::vector<std::uint8_t> out(text.size() / 4 * 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (n < 0) return std::nullopt;
    std::size_t pad = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
    out.resize(std::size_t(n) - pad);
    return out;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        out.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return out;
}

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

bool ed25519Verifies(const ReleasePublicKey& key, const std::uint8_t* signature, const std::uint8_t* message,
                     std::size_t length) {
    std::unique_ptr<EVP_PKEY, PkeyFree> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.key.data(), key.key.size()));
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!pkey || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
    return EVP_DigestVerify(ctx.get(), signature, 64, message, length) == 1;
}

// BLAKE2b-512 of a whole file, read in pieces (an archive can be large).
std::optional<std::array<std::uint8_t, 64>> blake2b512(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!in || !ctx || EVP_DigestInit_ex(ctx.get(), EVP_blake2b512(), nullptr) != 1) return std::nullopt;
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        if (in.gcount() > 0 && EVP_DigestUpdate(ctx.get(), buffer.data(), std::size_t(in.gcount())) != 1)
            return std::nullopt;
    }
    if (in.bad()) return std::nullopt;
    std::array<std::uint8_t, 64> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1 || length != digest.size()) return std::nullopt;
    return digest;
}

}  // namespace

std::optional<ReleasePublicKey> ReleasePublicKey::parse(std::string_view text) {
    auto all = lines(text);
    // A whole .pub file: its comment line, then the key.
    if (all.size() == 2 && all[0].starts_with("untrusted comment:")) text = all[1];
    else if (all.size() != 1) return std::nullopt;
    else text = all[0];
    auto bytes = decodeBase64(text);
    if (!bytes || bytes->size() != 42 || (*bytes)[0] != 'E' || (*bytes)[1] != 'd') return std::nullopt;
    ReleasePublicKey key;
    std::memcpy(key.keyId.data(), bytes->data() + 2, 8);
    std::memcpy(key.key.data(), bytes->data() + 10, 32);
    return key;
}

std::optional<std::string> whyNotSignedBy(const std::filesystem::path& file, std::string_view signatureFile,
                                          const ReleasePublicKey& key) {
    auto all = lines(signatureFile);
    while (!all.empty() && all.back().empty()) all.pop_back();
    constexpr std::string_view kTrusted = "trusted comment: ";
    if (all.size() != 4 || !all[0].starts_with("untrusted comment:") || !all[2].starts_with(kTrusted))
        return "the signature file is not in minisign's format";
    auto signature = decodeBase64(all[1]);
    auto global = decodeBase64(all[3]);
    if (!signature || signature->size() != 74 || !global || global->size() != 64)
        return "the signature file is not in minisign's format";
    if ((*signature)[0] != 'E' || (*signature)[1] != 'D')
        return "the signature is not of the prehashed Ed25519 kind (\"ED\")";
    if (std::memcmp(signature->data() + 2, key.keyId.data(), 8) != 0) return "the signature is by another key";

    const std::uint8_t* sig = signature->data() + 10;
    auto digest = blake2b512(file);
    if (!digest) return "the archive cannot be read";
    if (!ed25519Verifies(key, sig, digest->data(), digest->size())) return "the signature does not match the archive";
    // The trusted comment is signed too, together with the signature.
    std::vector<std::uint8_t> signedComment(sig, sig + 64);
    const std::string_view comment = all[2].substr(kTrusted.size());
    signedComment.insert(signedComment.end(), comment.begin(), comment.end());
    if (!ed25519Verifies(key, global->data(), signedComment.data(), signedComment.size()))
        return "the signature's trusted comment does not match";
    return std::nullopt;
}

}  // namespace quillant::app
