#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct xkb_keymap;

namespace quillant::linux_platform {

// One key as the remote-desktop portal takes it: an evdev keycode (the
// compositor presses that physical key), or a keysym (the compositor finds
// the key in its own keymap).
struct PortalKey {
    enum class Kind { keycode, keysym };
    Kind kind = Kind::keysym;
    std::int32_t code = 0;
    bool operator==(const PortalKey&) const = default;
};

// Which key to press for a keysym. With the compositor's keymap (the text a
// Wayland client receives with wl_keyboard.keymap) we send the evdev keycode
// of the key that produces the keysym there, so Ctrl+C is Ctrl+C also on
// Dvorak or AZERTY; a portal client has no keymap of its own otherwise, and a
// guessed one would press the wrong letter, so without it we send keysyms and
// let the compositor, which knows its keymap, find the key.
class PortalKeyboardMap {
public:
    // Keysyms for every key.
    static PortalKeyboardMap keysyms();
    // Keycodes from an XKB keymap in text form; nothing when it does not compile.
    static std::optional<PortalKeyboardMap> fromKeymapText(const std::string& keymap);
    // Keycodes from rules/model/layout/variant names (empty: libxkbcommon's defaults).
    static std::optional<PortalKeyboardMap> fromNames(const std::string& layout, const std::string& variant = {});

    // The key to press for `keysym`; nothing when the keymap has no key for it.
    std::optional<PortalKey> keyFor(std::uint32_t keysym) const;
    bool usesKeycodes() const { return keycodes_; }

private:
    bool keycodes_ = false;
    std::shared_ptr<xkb_keymap> keymap_;  // the compositor's, when keycodes_
};

// What the shortcuts portal takes as a preferred trigger: "ALT+SHIFT+g"
// (modifiers CTRL, ALT, SHIFT, LOGO, then the key's keysym name).
std::string portalTrigger(std::uint32_t keysym, std::uint32_t hotkeyModifiers);

}  // namespace quillant::linux_platform
