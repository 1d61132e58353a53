#include "platform/linux/portal/PortalKeyboardMap.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace quillant::linux_platform {

namespace {

struct ContextDeleter {
    void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
using Context = std::unique_ptr<xkb_context, ContextDeleter>;
using Keymap = std::unique_ptr<xkb_keymap, KeymapDeleter>;

// xkb keycodes are evdev keycodes plus 8.
constexpr xkb_keycode_t kEvdevOffset = 8;

}  // namespace

PortalKeyboardMap PortalKeyboardMap::keysyms() { return PortalKeyboardMap{}; }

std::optional<PortalKeyboardMap> PortalKeyboardMap::fromKeymapText(const std::string& text) {
    Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context) return std::nullopt;
    Keymap keymap(xkb_keymap_new_from_buffer(context.get(), text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                             XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) return std::nullopt;
    PortalKeyboardMap map;
    map.keycodes_ = true;
    // Every keysym at its first place: the lowest layout, then the lowest
    // level, then the lowest keycode. Level 0 first, so a letter is the
    // key that types it unshifted.
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap.get());
    const xkb_keycode_t max = xkb_keymap_max_keycode(keymap.get());
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap.get());
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout)
        for (xkb_level_index_t level = 0; level < 4; ++level)
            for (xkb_keycode_t keycode = std::max(min, kEvdevOffset); keycode <= max; ++keycode) {
                if (layout >= xkb_keymap_num_layouts_for_key(keymap.get(), keycode)) continue;
                if (level >= xkb_keymap_num_levels_for_key(keymap.get(), keycode, layout)) continue;
                const xkb_keysym_t* syms = nullptr;
                const int count = xkb_keymap_key_get_syms_by_level(keymap.get(), keycode, layout, level, &syms);
                for (int i = 0; i < count; ++i)
                    map.evdev_.emplace(syms[i], static_cast<std::int32_t>(keycode - kEvdevOffset));
            }
    return map;
}

std::optional<PortalKeyboardMap> PortalKeyboardMap::fromNames(const std::string& layout, const std::string& variant) {
    Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context) return std::nullopt;
    const xkb_rule_names names{nullptr, nullptr, layout.empty() ? nullptr : layout.c_str(),
                               variant.empty() ? nullptr : variant.c_str(), nullptr};
    Keymap keymap(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) return std::nullopt;
    char* text = xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
    if (!text) return std::nullopt;
    std::string copy(text);
    std::free(text);
    return fromKeymapText(copy);
}

std::optional<PortalKey> PortalKeyboardMap::keyFor(std::uint32_t keysym) const {
    if (!keycodes_) return PortalKey{PortalKey::Kind::keysym, static_cast<std::int32_t>(keysym)};
    const auto it = evdev_.find(keysym);
    if (it == evdev_.end()) return std::nullopt;
    return PortalKey{PortalKey::Kind::keycode, it->second};
}

std::string portalTrigger(std::uint32_t keysym, std::uint32_t hotkeyModifiers) {
    std::string trigger;
    if (hotkeyModifiers & 4096) trigger += "CTRL+";
    if (hotkeyModifiers & 2048) trigger += "ALT+";
    if (hotkeyModifiers & 512) trigger += "SHIFT+";
    if (hotkeyModifiers & 256) trigger += "LOGO+";
    char name[64] = {};
    if (xkb_keysym_get_name(keysym, name, sizeof name) <= 0) return {};
    return trigger + name;
}

}  // namespace quillant::linux_platform
