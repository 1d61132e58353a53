#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <xcb/xcb.h>

#include "hotkey/Key.h"
#include "platform/linux/x11/Keymap.h"

struct xkb_context;

namespace quillant::linux_platform {

// The X keysym of each key of our key model: the canonical identity of a key
// on X11, from which the keycode on the current layout is looked up.

// The keysym for `key`; every key has one.
std::uint32_t keysymForKey(hotkey::Key key) noexcept;

// The key a keysym stands for, also for the keysyms a key produces at other
// shift levels on a US layout ("A", "!", KP_End…), so that events read
// through a toolkit map back to the physical key.
std::optional<hotkey::Key> keyForKeysym(std::uint32_t keysym) noexcept;

// The keyboard map of one X connection, read through XKB (every group and
// level of every key; the core map when the server has no XKB) with the
// modifier map, and the choices of Keymap.h made on it.
class XKeyboardMap {
public:
    // Reads the map over `connection`; reload() after a change.
    explicit XKeyboardMap(xcb_connection_t* connection);
    ~XKeyboardMap();
    XKeyboardMap(const XKeyboardMap&) = delete;
    XKeyboardMap& operator=(const XKeyboardMap&) = delete;
    void reload();

    // The keycode to press or grab for `keysym` (see linux_platform::keycodeFor);
    // none when no key of the map produces it.
    std::optional<xcb_keycode_t> keycodeFor(std::uint32_t keysym) const;
    std::optional<xcb_keycode_t> keycodeFor(hotkey::Key key) const { return keycodeFor(keysymForKey(key)); }
    // Whether the keycode is bound to a modifier (Shift, Lock, Control, Mod1–Mod5).
    bool isModifier(xcb_keycode_t keycode) const;
    // The key that sets Control; none means no chord may be sent.
    std::optional<xcb_keycode_t> controlKeycode() const;
    LockModifiers lockModifiers() const;
    const Keymap& keymap() const { return keymap_; }

    // Asks the server to report changes of the map and of the selected group
    // on this connection; handle() reads them.
    void watchChanges();
    enum class Change { none, map, group };
    // What `event` changed: `map` once the new map has been read (setxkbmap,
    // xmodmap), `group` for another selected layout, `none` for other events.
    Change handle(const xcb_generic_event_t* event);

private:
    void readCoreMap(Keymap& next);

    xcb_connection_t* connection_;
    xkb_context* context_ = nullptr;
    bool xkb_ = false;
    std::uint8_t xkbEventBase_ = 0;
    std::int32_t device_ = -1;
    Keymap keymap_;
};

}  // namespace quillant::linux_platform
