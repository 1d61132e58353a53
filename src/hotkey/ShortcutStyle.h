#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hotkey/Key.h"
#include "hotkey/KeyCombo.h"
#include "hotkey/ModifierFlags.h"

namespace quillant::hotkey {

// How a shortcut is written for the user. The stored value is always the key
// code and the modifier mask; only its text differs between desktops.
enum class ShortcutStyle {
    // Glyphs without separators, control-option-shift-command order: ⌥⇧G.
    macGlyphs,
    // Words joined by "+", the way Linux desktops write shortcuts: Alt+Shift+G, Ctrl+Alt+K, Super+F5.
    linuxWords,
};

// The modifiers alone: "⌃⌥" or "Ctrl+Alt" (empty when there are none).
std::string describeModifiers(ModifierFlags modifiers, ShortcutStyle style);

// One key's text: its table description for macGlyphs, a word or the
// character on the key cap for linuxWords ("G", "F5", "Space", "Page Up").
std::string describeKey(Key key, ShortcutStyle style);

// A whole combination. A key code without a key is written as `unknownKey`
// (nothing, or e.g. "?"), so that the mask still reads.
std::string describeCombo(const KeyCombo& combo, ShortcutStyle style, std::string_view unknownKey = {});

// The recorder's refusal of a press without a real modifier, in that style.
std::string modifierRequiredMessage(ShortcutStyle style);

}  // namespace quillant::hotkey
