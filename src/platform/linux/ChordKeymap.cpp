#include "platform/linux/ChordKeymap.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <memory>

namespace quillant::linux_platform {

namespace {

struct StateDeleter {
    void operator()(xkb_state* s) const { xkb_state_unref(s); }
};

bool gives(xkb_keymap* keymap, xkb_keycode_t keycode, xkb_layout_index_t layout, xkb_level_index_t level,
           xkb_keysym_t keysym) {
    const xkb_keysym_t* syms = nullptr;
    const int n = xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, level, &syms);
    for (int i = 0; i < n; ++i)
        if (syms[i] == keysym) return true;
    return false;
}

}  // namespace

std::optional<ChordKey> keyProducing(xkb_keymap* keymap, xkb_keysym_t keysym) {
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap), max = xkb_keymap_max_keycode(keymap);
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        xkb_level_index_t most = 0;
        for (xkb_keycode_t k = min; k <= max; ++k)
            if (layout < xkb_keymap_num_layouts_for_key(keymap, k))
                most = std::max(most, xkb_keymap_num_levels_for_key(keymap, k, layout));
        for (xkb_level_index_t level = 0; level < most; ++level)
            for (xkb_keycode_t k = min; k <= max; ++k)
                // A key with fewer layouts does not wrap here: the chord names its layout.
                if (layout < xkb_keymap_num_layouts_for_key(keymap, k) && gives(keymap, k, layout, level, keysym))
                    return ChordKey{k, layout};
    }
    return std::nullopt;
}

std::optional<ModifierKey> modifierKey(xkb_keymap* keymap, const char* modifierName,
                                       std::initializer_list<xkb_keysym_t> keysyms) {
    const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, modifierName);
    if (index == XKB_MOD_INVALID) return std::nullopt;
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap), max = xkb_keymap_max_keycode(keymap);
    for (xkb_keysym_t keysym : keysyms)
        for (xkb_keycode_t k = min; k <= max; ++k) {
            if (xkb_keymap_num_layouts_for_key(keymap, k) == 0 || !gives(keymap, k, 0, 0, keysym)) continue;
            std::unique_ptr<xkb_state, StateDeleter> state(xkb_state_new(keymap));
            if (!state) return std::nullopt;
            xkb_state_update_key(state.get(), k, XKB_KEY_DOWN);
            if (xkb_state_mod_index_is_active(state.get(), index, XKB_STATE_MODS_DEPRESSED) > 0)
                return ModifierKey{k, xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED)};
        }
    return std::nullopt;
}

ChordKeymap chordKeymap(xkb_keymap* keymap) {
    ChordKeymap out;
    if (!keymap) return out;
    out.control = modifierKey(keymap, XKB_MOD_NAME_CTRL, {XKB_KEY_Control_L, XKB_KEY_Control_R});
    out.shift = modifierKey(keymap, XKB_MOD_NAME_SHIFT, {XKB_KEY_Shift_L, XKB_KEY_Shift_R});
    out.c = keyProducing(keymap, XKB_KEY_c);
    out.v = keyProducing(keymap, XKB_KEY_v);
    return out;
}

}  // namespace quillant::linux_platform
