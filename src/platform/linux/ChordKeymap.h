#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace quillant::linux_platform {

// Owning xkbcommon handles.
struct XkbContextUnref {
    void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
struct XkbKeymapUnref {
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
using XkbContextPtr = std::unique_ptr<xkb_context, XkbContextUnref>;
using XkbKeymapPtr = std::unique_ptr<xkb_keymap, XkbKeymapUnref>;

// A key to press: its xkb keycode (the evdev code plus 8) and the layout
// (group) in which it gives the wanted keysym.
struct ChordKey {
    std::uint32_t keycode = 0;
    std::uint32_t layout = 0;
    bool operator==(const ChordKey&) const = default;
};

// A modifier key and the modifier bits it really sets when pressed alone.
struct ModifierKey {
    std::uint32_t keycode = 0;
    xkb_mod_mask_t mask = 0;
    bool operator==(const ModifierKey&) const = default;
};

// The key that gives `keysym`: in the first layout that has it (layouts in
// order: with "ru,us" the Latin letters live in the second), at its lowest
// level, the lowest keycode. None when no key gives it.
std::optional<ChordKey> keyProducing(xkb_keymap* keymap, xkb_keysym_t keysym);

// The key that sets the named modifier (XKB_MOD_NAME_CTRL, XKB_MOD_NAME_SHIFT)
// when pressed on its own, among the keys giving one of `keysyms` (tried in
// order). Checked by pressing it in a fresh keyboard state: a key that only
// looks like Control (a remapped keysym without the modifier) is not taken.
std::optional<ModifierKey> modifierKey(xkb_keymap* keymap, const char* modifierName,
                                       std::initializer_list<xkb_keysym_t> keysyms);

// Everything a copy or paste chord needs from a keymap.
struct ChordKeymap {
    std::optional<ModifierKey> control;
    std::optional<ModifierKey> shift;
    std::optional<ChordKey> c;
    std::optional<ChordKey> v;
    // Control and both letters: a keymap without them cannot carry a chord.
    bool complete() const { return control && c && v; }
};
ChordKeymap chordKeymap(xkb_keymap* keymap);

}  // namespace quillant::linux_platform
