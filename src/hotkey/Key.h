#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace quillant::hotkey {

// The keys of the keyboard, in table order. `return` and `delete` carry a
// trailing underscore because they are C++ keywords.
enum class KeyCase : std::uint8_t {
    a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z, zero, one,
    two, three, four, five, six, seven, eight, nine, period, quote, rightBracket, semicolon,
    slash, backslash, comma, equal, grave, leftBracket, minus, section, space, tab, return_,
    command, rightCommand, option, rightOption, control, rightControl, shift, rightShift,
    function, capsLock, pageUp, pageDown, home, end, upArrow, rightArrow, downArrow, leftArrow,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20,
    keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
    keypadClear, keypadDecimal, keypadDivide, keypadEnter, keypadEquals, keypadMinus,
    keypadMultiply, keypadPlus, escape, delete_, forwardDelete, help, volumeUp, volumeDown,
    mute,
};

// One key: its virtual key code, its short display text and the names that
// menu key equivalents may use for it. Pure data; equal when the case is.
class Key {
public:
    static constexpr std::size_t caseCount = 114;

    constexpr Key(KeyCase value) noexcept : value_(value) {}  // implicit: a KeyCase reads as a Key

    // The key with this virtual key code, or none for a code no key has.
    static std::optional<Key> fromCarbonKeyCode(std::uint32_t code) noexcept;
    // The key one of whose names equals the text under full Unicode lower-casing;
    // nothing else is normalised (no trimming, no canonical equivalence).
    static std::optional<Key> fromString(std::string_view name);
    // Every key, in table order.
    static std::span<const Key> allCases() noexcept;

    constexpr KeyCase value() const noexcept { return value_; }
    std::uint32_t carbonKeyCode() const noexcept;
    std::string_view description() const noexcept;
    // The accepted names as the table spells them (compared in lower case).
    std::span<const std::string_view> names() const noexcept;
    // The case's own name, e.g. "rightBracket" (for diagnostics).
    std::string_view caseName() const noexcept;

    constexpr bool operator==(const Key&) const noexcept = default;

private:
    KeyCase value_;
};

static_assert(static_cast<std::size_t>(KeyCase::mute) + 1 == Key::caseCount);

}  // namespace quillant::hotkey

template <>
struct std::hash<quillant::hotkey::Key> {
    std::size_t operator()(const quillant::hotkey::Key& key) const noexcept {
        return std::hash<std::uint8_t>{}(static_cast<std::uint8_t>(key.value()));
    }
};
