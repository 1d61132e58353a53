#include "platform/linux/x11/Keymap.h"

#include <X11/keysym.h>

#include <algorithm>

namespace quillant::linux_platform {

namespace {

constexpr std::size_t kControlRow = 2;
constexpr std::size_t kFirstModRow = 3;  // Mod1
constexpr std::uint16_t kLockMask = 1u << 1;

bool levelsHold(const std::vector<std::vector<std::uint32_t>>& levels, std::size_t level, std::uint32_t keysym) {
    if (level >= levels.size()) return false;
    const auto& syms = levels[level];
    return std::find(syms.begin(), syms.end(), keysym) != syms.end();
}

std::size_t mostLevels(const Keymap& keymap) {
    std::size_t most = 0;
    for (const auto& key : keymap.keys)
        for (const auto& levels : key.groups) most = std::max(most, levels.size());
    return most;
}

// The lowest level, then the lowest keycode, that gives `keysym` in the group
// that `groupOf` picks for each key (none: the key has no such group).
template <typename GroupOf>
std::optional<std::uint8_t> searchGroup(const Keymap& keymap, std::uint32_t keysym, std::size_t levels,
                                        GroupOf groupOf) {
    for (std::size_t level = 0; level < levels; ++level)
        for (const auto& key : keymap.keys)
            if (auto group = groupOf(key); group && levelsHold(key.groups[*group], level, keysym))
                return key.keycode;
    return std::nullopt;
}

std::uint16_t rowCarrying(const Keymap& keymap, std::uint32_t keysym) {
    for (std::size_t row = kFirstModRow; row < kModifierRows; ++row)
        for (auto keycode : keymap.modifiers[row])
            if (keymap.produces(keycode, keysym)) return std::uint16_t(1u << row);
    return 0;
}

}  // namespace

bool Keymap::produces(std::uint8_t keycode, std::uint32_t keysym) const {
    for (const auto& key : keys) {
        if (key.keycode != keycode) continue;
        for (const auto& levels : key.groups)
            for (std::size_t level = 0; level < levels.size(); ++level)
                if (levelsHold(levels, level, keysym)) return true;
    }
    return false;
}

std::optional<std::uint8_t> keycodeFor(const Keymap& keymap, std::uint32_t keysym) {
    if (keysym == 0) return std::nullopt;
    const std::size_t levels = mostLevels(keymap);
    // A key with fewer groups than the active one wraps around, as the server does.
    auto active = searchGroup(keymap, keysym, levels, [&](const Keymap::Key& key) -> std::optional<std::size_t> {
        if (key.groups.empty()) return std::nullopt;
        return keymap.activeGroup % key.groups.size();
    });
    if (active) return active;
    std::size_t groups = 0;
    for (const auto& key : keymap.keys) groups = std::max(groups, key.groups.size());
    for (std::size_t group = 0; group < groups; ++group) {
        if (group == keymap.activeGroup) continue;
        auto found = searchGroup(keymap, keysym, levels, [&](const Keymap::Key& key) -> std::optional<std::size_t> {
            if (group >= key.groups.size()) return std::nullopt;
            return group;
        });
        if (found) return found;
    }
    return std::nullopt;
}

std::optional<std::uint8_t> controlKeycode(const Keymap& keymap) {
    for (std::uint32_t keysym : {std::uint32_t(XK_Control_L), std::uint32_t(XK_Control_R)})
        for (auto keycode : keymap.modifiers[kControlRow])
            if (keycode != 0 && keymap.produces(keycode, keysym)) return keycode;
    return std::nullopt;
}

LockModifiers lockModifiers(const Keymap& keymap) {
    return LockModifiers{kLockMask, rowCarrying(keymap, XK_Num_Lock), rowCarrying(keymap, XK_Scroll_Lock)};
}

std::vector<std::uint16_t> lockVariants(const LockModifiers& locks, std::uint16_t mask) {
    std::vector<std::uint16_t> bits;
    for (std::uint16_t bit : {locks.capsLock, locks.numLock, locks.scrollLock})
        if (bit != 0 && (bit & mask) == 0 && std::find(bits.begin(), bits.end(), bit) == bits.end())
            bits.push_back(bit);
    std::vector<std::uint16_t> variants;
    for (std::size_t subset = 0; subset < (std::size_t(1) << bits.size()); ++subset) {
        std::uint16_t variant = 0;
        for (std::size_t i = 0; i < bits.size(); ++i)
            if (subset & (std::size_t(1) << i)) variant |= bits[i];
        variants.push_back(variant);
    }
    return variants;
}

}  // namespace quillant::linux_platform
