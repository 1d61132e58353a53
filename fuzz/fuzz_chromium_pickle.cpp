// Chromium custom-data containers from other processes, and our own writing of
// them read back.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "clipboard/ChromiumPickle.h"
#include "text/Text.h"

using quillant::clipboard::ChromiumPickle;
using Map = std::map<std::string, std::string>;

namespace {

// Reads the input as "key\0value\0key\0value…" so that the round trip sees
// arbitrary (often ill-formed) UTF-8 strings as well as containers.
Map mapFromBytes(std::string_view bytes) {
    Map map;
    std::string_view pending;
    bool haveKey = false;
    while (!bytes.empty()) {
        auto end = bytes.find('\0');
        auto piece = bytes.substr(0, end);
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
        if (haveKey) {
            map[std::string(pending)] = std::string(piece);
        } else {
            pending = piece;
        }
        haveKey = !haveKey;
    }
    return map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Anything decoded is well-formed text and survives being written and read again.
    if (auto decoded = ChromiumPickle::decode(bytes)) {
        for (auto& [key, value] : *decoded) {
            FUZZ_CHECK(quillant::text::isValidUTF8(key));
            FUZZ_CHECK(quillant::text::isValidUTF8(value));
        }
        auto encoded = ChromiumPickle::encode(*decoded);
        auto again = ChromiumPickle::decode(encoded);
        FUZZ_CHECK(again && *again == *decoded);
        FUZZ_CHECK(ChromiumPickle::encode(*again) == encoded);
    }

    // decode(encode(m)) == m for any map of well-formed strings; ill-formed
    // ones are written with replacement characters, so the result decodes
    // (to valid text) but need not be equal.
    Map map = mapFromBytes(bytes);
    auto encoded = ChromiumPickle::encode(map);
    auto decoded = ChromiumPickle::decode(encoded);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(decoded->size() <= map.size());
    bool wellFormed = true;
    for (auto& [key, value] : map)
        wellFormed = wellFormed && quillant::text::isValidUTF8(key) && quillant::text::isValidUTF8(value);
    if (wellFormed) FUZZ_CHECK(*decoded == map);

    // The string writer's fast paths agree with a plain conversion, including
    // how ill-formed UTF-8 is replaced.
    std::string written;
    ChromiumPickle::appendUTF16(written, bytes);
    const std::u16string units = quillant::text::toUTF16(bytes);
    std::string expected;
    for (int shift = 0; shift < 32; shift += 8) expected.push_back(char((units.size() >> shift) & 0xFF));
    for (char16_t unit : units) {
        expected.push_back(char(unit & 0xFF));
        expected.push_back(char(unit >> 8));
    }
    if (units.size() % 2 != 0) expected.append(2, '\0');
    FUZZ_CHECK(written == expected);
    return 0;
}
