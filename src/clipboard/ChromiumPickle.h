#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quillant::clipboard {

// Chromium's custom-data clipboard container: a u32 payload size, a u32 entry
// count, then key/value pairs of UTF-16LE strings (u32 length in code units,
// the units, zero padding to a 4-byte boundary). All integers little-endian.
// Strings on our side are UTF-8.
struct ChromiumPickle {
    // Reads a container written by another process. Gives nothing for anything
    // that is not a well-formed container (truncation, a length past the end,
    // ill-formed UTF-16 such as an unpaired surrogate); never a partial map.
    // The payload-size field is not trusted and not checked. A repeated key
    // keeps its last value; bytes after the last entry are ignored.
    static std::optional<std::map<std::string, std::string>> decode(std::string_view bytes);

    // Writes the map byte-exactly as Chromium expects it, keys in ascending
    // byte order. Ill-formed UTF-8 in the map is written with U+FFFD in place.
    // Throws std::length_error only when a count or length would not fit in 32 bits.
    static std::string encode(const std::map<std::string, std::string>& map);

    // The little-endian u32 at `cursor`, moving the cursor on by 4; nothing
    // (cursor unchanged) when fewer than 4 bytes remain.
    static std::optional<std::uint32_t> readU32(std::string_view bytes, std::size_t& cursor);

    // Appends one string in the container's form: length in UTF-16 code units,
    // the units little-endian, then zero bytes up to a multiple of 4.
    static void appendUTF16(std::string& out, std::string_view utf8);
};

}  // namespace quillant::clipboard
