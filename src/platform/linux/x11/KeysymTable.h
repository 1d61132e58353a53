#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <xcb/xcb.h>

#include "hotkey/Key.h"

namespace quillant::linux_platform {

// The X keysym of each key of our key model: the canonical identity of a key
// on X11, from which the keycode on the current layout is looked up.

// The keysym for `key`; every key has one.
std::uint32_t keysymForKey(hotkey::Key key) noexcept;

// The key a keysym stands for, also for the keysyms a key produces at other
// shift levels on a US layout ("A", "!", KP_End…), so that events read
// through a toolkit map back to the physical key.
std::optional<hotkey::Key> keyForKeysym(std::uint32_t keysym) noexcept;

// The keyboard mapping of one X connection: keysym → keycode on the current
// layout (what XKeysymToKeycode answers), and which keycodes are modifiers.
class XKeyboardMap {
public:
    // Reads the mapping over `connection`; reload() after a MappingNotify.
    explicit XKeyboardMap(xcb_connection_t* connection);
    void reload();

    // The lowest keycode that produces `keysym` in its first group; none when
    // the layout has no key for it.
    std::optional<xcb_keycode_t> keycodeFor(std::uint32_t keysym) const;
    std::optional<xcb_keycode_t> keycodeFor(hotkey::Key key) const { return keycodeFor(keysymForKey(key)); }
    // Whether the keycode is bound to a modifier (Shift, Lock, Control, Mod1–Mod5).
    bool isModifier(xcb_keycode_t keycode) const;

private:
    xcb_connection_t* connection_;
    xcb_keycode_t minKeycode_ = 8;
    std::uint8_t perKeycode_ = 0;
    std::vector<std::uint32_t> keysyms_;
    std::vector<xcb_keycode_t> modifierKeycodes_;
};

}  // namespace quillant::linux_platform
