#include "clipboard/ChromiumPickle.h"

#include <limits>
#include <stdexcept>

#include "text/Text.h"

namespace quillant::clipboard {

namespace {

constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

void appendU32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(char((value >> shift) & 0xFF));
}

void appendUTF8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

// Strict: a lone or reversed surrogate rejects the whole string rather than
// turning into U+FFFD, so that we never hand on text the writer did not store.
std::optional<std::string> utf16LEToUTF8(std::string_view units) {
    auto unitAt = [&](std::size_t i) {
        return char16_t(std::uint8_t(units[2 * i]) | (std::uint8_t(units[2 * i + 1]) << 8));
    };
    const std::size_t count = units.size() / 2;
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < count; ++i) {
        char16_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= count) return std::nullopt;
            char16_t low = unitAt(i + 1);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            appendUTF8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00));
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return std::nullopt;
        } else {
            appendUTF8(out, unit);
        }
    }
    return out;
}

std::optional<std::string> readString(std::string_view bytes, std::size_t& cursor) {
    auto length = ChromiumPickle::readU32(bytes, cursor);
    if (!length) return std::nullopt;
    // 64-bit arithmetic: a hostile length must not wrap around; nothing is
    // allocated until the claimed units are known to be present.
    const std::uint64_t end = std::uint64_t(cursor) + 2 * std::uint64_t(*length);
    if (end > bytes.size()) return std::nullopt;
    std::string_view units = bytes.substr(cursor, std::size_t(end) - cursor);
    // A final odd-length string may lack its padding; the cursor may then lie
    // past the end, which the next read reports as too few bytes.
    cursor = std::size_t((end + 3) & ~std::uint64_t(3));
    return utf16LEToUTF8(units);
}

}  // namespace

std::optional<std::uint32_t> ChromiumPickle::readU32(std::string_view bytes, std::size_t& cursor) {
    if (cursor > bytes.size() || bytes.size() - cursor < 4) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | std::uint8_t(bytes[cursor + std::size_t(i)]);
    cursor += 4;
    return value;
}

void ChromiumPickle::appendUTF16(std::string& out, std::string_view utf8) {
    const std::u16string units = text::toUTF16(utf8);
    if (units.size() > kMaxU32) throw std::length_error("string too long for a Chromium pickle");
    appendU32(out, std::uint32_t(units.size()));
    for (char16_t unit : units) {
        out.push_back(char(unit & 0xFF));
        out.push_back(char(unit >> 8));
    }
    if (units.size() % 2 != 0) out.append(2, '\0');
}

std::optional<std::map<std::string, std::string>> ChromiumPickle::decode(std::string_view bytes) {
    if (bytes.size() < 4) return std::nullopt;
    std::size_t cursor = 4;  // the payload-size field is deliberately not consulted
    auto count = readU32(bytes, cursor);
    if (!count) return std::nullopt;

    std::map<std::string, std::string> map;
    // Each entry needs at least 8 bytes, so a huge claimed count fails on the
    // bytes actually present rather than running long.
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto key = readString(bytes, cursor);
        if (!key) return std::nullopt;
        auto value = readString(bytes, cursor);
        if (!value) return std::nullopt;
        map.insert_or_assign(std::move(*key), std::move(*value));
    }
    return map;
}

std::string ChromiumPickle::encode(const std::map<std::string, std::string>& map) {
    if (map.size() > kMaxU32) throw std::length_error("too many entries for a Chromium pickle");
    std::string payload;
    appendU32(payload, std::uint32_t(map.size()));
    // std::map iterates in ascending byte order of the UTF-8 keys.
    for (const auto& [key, value] : map) {
        appendUTF16(payload, key);
        appendUTF16(payload, value);
    }
    if (payload.size() > kMaxU32) throw std::length_error("Chromium pickle payload too large");

    std::string out;
    out.reserve(4 + payload.size());
    appendU32(out, std::uint32_t(payload.size()));
    out += payload;
    return out;
}

}  // namespace quillant::clipboard
