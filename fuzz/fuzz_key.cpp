// Key names as they come from menus and stored settings.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "hotkey/Key.h"

using quillant::hotkey::Key;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view name(reinterpret_cast<const char*>(data), size);
    auto key = Key::fromString(name);
    if (!key) return 0;
    // A name that was accepted belongs to a real key, which is found again by
    // its code and by each of its own names.
    FUZZ_CHECK(Key::fromCarbonKeyCode(key->carbonKeyCode()).has_value());
    bool found = false;
    for (auto own : key->names()) {
        auto back = Key::fromString(own);
        FUZZ_CHECK(back.has_value());
        found = found || *back == *key;
    }
    FUZZ_CHECK(found);
    return 0;
}
