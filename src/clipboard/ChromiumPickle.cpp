#include "clipboard/ChromiumPickle.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "text/Text.h"

namespace quillant::clipboard {

namespace {

constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

// Containers can be megabytes of text, most of it ASCII: the conversions below
// take eight bytes at a time while they see ASCII and write into a buffer
// sized up front, falling back to one character at a time otherwise.
constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

std::uint64_t load64(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

char* writeUTF8(char* o, char32_t cp) {
    if (cp < 0x80) {
        *o++ = char(cp);
    } else if (cp < 0x800) {
        *o++ = char(0xC0 | (cp >> 6));
        *o++ = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = char(0xE0 | (cp >> 12));
        *o++ = char(0x80 | ((cp >> 6) & 0x3F));
        *o++ = char(0x80 | (cp & 0x3F));
    } else {
        *o++ = char(0xF0 | (cp >> 18));
        *o++ = char(0x80 | ((cp >> 12) & 0x3F));
        *o++ = char(0x80 | ((cp >> 6) & 0x3F));
        *o++ = char(0x80 | (cp & 0x3F));
    }
    return o;
}

// Strict: a lone or reversed surrogate rejects the whole string rather than
// turning into U+FFFD, so that we never hand on text the writer did not store.
std::optional<std::string> utf16LEToUTF8(std::string_view units) {
    auto unitAt = [&](std::size_t i) {
        return char16_t(std::uint8_t(units[2 * i]) | (std::uint8_t(units[2 * i + 1]) << 8));
    };
    const std::size_t count = units.size() / 2;
    // Exact for ASCII; grown (to at most three bytes a unit) when wider text comes.
    std::string out(count, '\0');
    std::size_t pos = 0;
    auto reserveFor = [&](std::size_t bytes) {
        if (out.size() - pos < bytes) out.resize(std::max(out.size() * 2, pos + bytes));
    };
    std::size_t i = 0;
    while (i < count) {
        if constexpr (kLittleEndianHost) {
            // Four units that are all below 0x80 become four bytes.
            if (count - i >= 4) {
                const std::uint64_t w = load64(units.data() + 2 * i);
                if ((w & 0xFF80FF80FF80FF80u) == 0) {
                    reserveFor(4);
                    char* o = out.data() + pos;
                    o[0] = char(w);
                    o[1] = char(w >> 16);
                    o[2] = char(w >> 32);
                    o[3] = char(w >> 48);
                    pos += 4;
                    i += 4;
                    continue;
                }
            }
        }
        char16_t unit = unitAt(i);
        char32_t cp = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= count) return std::nullopt;
            char16_t low = unitAt(i + 1);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            cp = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return std::nullopt;
        }
        ++i;
        reserveFor(4);
        pos = std::size_t(writeUTF8(out.data() + pos, cp) - out.data());
    }
    out.resize(pos);
    return out;
}

// The code point of the well-formed multi-byte sequence at `i` (moving `i`
// past it), or nothing, leaving `i` alone.
std::optional<char32_t> wellFormedSequence(std::string_view s, std::size_t& i) {
    auto byte = [&](std::size_t k) { return std::uint8_t(s[k]); };
    auto cont = [&](std::size_t k) { return k < s.size() && (byte(k) & 0xC0) == 0x80; };
    const std::uint8_t b0 = byte(i);
    if (b0 >= 0xC2 && b0 <= 0xDF && cont(i + 1)) {
        char32_t cp = char32_t(b0 & 0x1F) << 6 | char32_t(byte(i + 1) & 0x3F);
        i += 2;
        return cp;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF && cont(i + 1) && cont(i + 2)) {
        char32_t cp = char32_t(b0 & 0x0F) << 12 | char32_t(byte(i + 1) & 0x3F) << 6 | char32_t(byte(i + 2) & 0x3F);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;  // overlong or a surrogate
        i += 3;
        return cp;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
        char32_t cp = char32_t(b0 & 0x07) << 18 | char32_t(byte(i + 1) & 0x3F) << 12 |
                      char32_t(byte(i + 2) & 0x3F) << 6 | char32_t(byte(i + 3) & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF) return std::nullopt;  // overlong or out of range
        i += 4;
        return cp;
    }
    return std::nullopt;
}

void writeU32(char* o, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) *o++ = char((value >> shift) & 0xFF);
}

void appendU32(std::string& out, std::uint32_t value) {
    char bytes[4];
    writeU32(bytes, value);
    out.append(bytes, 4);
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
    // Every UTF-8 byte gives at most one UTF-16 unit (ill-formed sequences
    // give one U+FFFD each), so this bounds the string's size.
    const std::size_t start = out.size();
    out.resize(start + 4 + 2 * utf8.size() + 2);
    char* const lengthField = out.data() + start;
    char* o = lengthField + 4;
    auto writeUnit = [&o](char16_t unit) {
        *o++ = char(unit & 0xFF);
        *o++ = char(unit >> 8);
    };

    std::size_t i = 0;
    while (i < utf8.size()) {
        if constexpr (kLittleEndianHost) {
            // Eight ASCII bytes become eight units.
            if (utf8.size() - i >= 8) {
                const std::uint64_t w = load64(utf8.data() + i);
                if ((w & 0x8080808080808080u) == 0) {
                    for (int k = 0; k < 8; ++k) writeUnit(char16_t((w >> (8 * k)) & 0x7F));
                    i += 8;
                    continue;
                }
            }
        }
        if (std::uint8_t(utf8[i]) < 0x80) {
            writeUnit(char16_t(utf8[i]));
            ++i;
            continue;
        }
        if (auto cp = wellFormedSequence(utf8, i)) {
            if (*cp < 0x10000) {
                writeUnit(char16_t(*cp));
            } else {
                writeUnit(char16_t(0xD800 + ((*cp - 0x10000) >> 10)));
                writeUnit(char16_t(0xDC00 + ((*cp - 0x10000) & 0x3FF)));
            }
            continue;
        }
        // Ill-formed bytes: ICU decides how they are replaced, over the run up
        // to the next ASCII byte (which never belongs to a multi-byte
        // sequence, so cutting there changes nothing).
        std::size_t end = i;
        while (end < utf8.size() && std::uint8_t(utf8[end]) >= 0x80) ++end;
        for (char16_t unit : text::toUTF16(utf8.substr(i, end - i))) writeUnit(unit);
        i = end;
    }

    const std::size_t units = std::size_t(o - (lengthField + 4)) / 2;
    if (units > kMaxU32) {
        out.resize(start);
        throw std::length_error("string too long for a Chromium pickle");
    }
    writeU32(lengthField, std::uint32_t(units));
    if (units % 2 != 0) {
        *o++ = 0;
        *o++ = 0;
    }
    out.resize(std::size_t(o - out.data()));
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
    std::string out;
    std::size_t bound = 8;
    for (const auto& [key, value] : map) bound += 2 * (key.size() + value.size()) + 12;
    out.reserve(bound);
    appendU32(out, 0);  // the payload size, filled in below
    appendU32(out, std::uint32_t(map.size()));
    // std::map iterates in ascending byte order of the UTF-8 keys.
    for (const auto& [key, value] : map) {
        appendUTF16(out, key);
        appendUTF16(out, value);
    }
    const std::size_t payload = out.size() - 4;
    if (payload > kMaxU32) throw std::length_error("Chromium pickle payload too large");
    writeU32(out.data(), std::uint32_t(payload));
    return out;
}

}  // namespace quillant::clipboard
