#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillant::linux_platform {

// A keyboard map as plain data, and the choices made from it: which keycode
// to press or grab for a keysym, which key sets Control, which modifier bits
// are locks. Kept apart from the server so that the choices can be checked
// against maps written down as data.

// Shift, Lock, Control, Mod1–Mod5, in the order of the X modifier map.
inline constexpr std::size_t kModifierRows = 8;

struct Keymap {
    struct Key {
        std::uint8_t keycode = 0;
        // groups[group][level]: the keysyms of each level (one, nearly always).
        std::vector<std::vector<std::vector<std::uint32_t>>> groups;
    };
    std::vector<Key> keys;  // ascending keycodes
    // The keycodes of each modifier bit, as the modifier map lists them.
    std::array<std::vector<std::uint8_t>, kModifierRows> modifiers;
    // The group the user has selected now (0 = the first layout).
    std::uint32_t activeGroup = 0;

    // Whether the keycode produces `keysym` in some group at some level.
    bool produces(std::uint8_t keycode, std::uint32_t keysym) const;
};

// The keycode to press or grab for `keysym`. With several layouts the Latin
// letters may live in the second group only (ru,us); a toolkit then reads
// Control plus that physical key as the Latin shortcut. So: the active group
// first (a Latin layout that moves letters, such as Dvorak, wins while it is
// selected), then the other groups in order; within a group the lowest level,
// then the lowest keycode. None when no key produces it at all.
std::optional<std::uint8_t> keycodeFor(const Keymap& keymap, std::uint32_t keysym);

// The key that really sets Control: listed under Control in the modifier map
// and producing Control_L (preferred) or Control_R. None when the map has no
// such key; a chord pressed without it would type a bare letter.
std::optional<std::uint8_t> controlKeycode(const Keymap& keymap);

// The modifier bits that lock keys set and a hotkey must ignore: Lock, the bit
// that carries Num_Lock, the bit that carries Scroll_Lock (0 when unmapped).
struct LockModifiers {
    std::uint16_t capsLock = 0;
    std::uint16_t numLock = 0;
    std::uint16_t scrollLock = 0;
    std::uint16_t all() const { return std::uint16_t(capsLock | numLock | scrollLock); }
    bool operator==(const LockModifiers&) const = default;
};
LockModifiers lockModifiers(const Keymap& keymap);

// Every combination of the lock bits that `mask` does not use itself, the
// empty one first: the extra modifier states a grab of `mask` must cover.
std::vector<std::uint16_t> lockVariants(const LockModifiers& locks, std::uint16_t mask);

}  // namespace quillant::linux_platform
