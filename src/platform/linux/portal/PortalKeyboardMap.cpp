#include "platform/linux/portal/PortalKeyboardMap.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/ChordKeymap.h"

namespace quillant::linux_platform {

namespace {

// xkb keycodes are evdev keycodes plus 8.
constexpr xkb_keycode_t kEvdevOffset = 8;

}  // namespace

PortalKeyboardMap PortalKeyboardMap::keysyms() { return PortalKeyboardMap{}; }

std::optional<PortalKeyboardMap> PortalKeyboardMap::fromKeymapText(const std::string& text) {
    XkbContextPtr context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context) return std::nullopt;
    xkb_keymap* keymap = xkb_keymap_new_from_buffer(context.get(), text.data(), text.size(),
                                                    XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) return std::nullopt;
    PortalKeyboardMap map;
    map.keycodes_ = true;
    map.keymap_.reset(keymap, xkb_keymap_unref);
    return map;
}

std::optional<PortalKeyboardMap> PortalKeyboardMap::fromNames(const std::string& layout, const std::string& variant) {
    XkbContextPtr context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context) return std::nullopt;
    const xkb_rule_names names{nullptr, nullptr, layout.empty() ? nullptr : layout.c_str(),
                               variant.empty() ? nullptr : variant.c_str(), nullptr};
    XkbKeymapPtr keymap(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) return std::nullopt;
    char* text = xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
    if (!text) return std::nullopt;
    std::string copy(text);
    std::free(text);
    return fromKeymapText(copy);
}

std::optional<PortalKey> PortalKeyboardMap::keyFor(std::uint32_t keysym) const {
    if (!keycodes_) return PortalKey{PortalKey::Kind::keysym, static_cast<std::int32_t>(keysym)};
    // The key that types it: the first layout that has it, its lowest level.
    const auto key = keyProducing(keymap_.get(), keysym);
    if (!key || key->keycode < kEvdevOffset) return std::nullopt;
    return PortalKey{PortalKey::Kind::keycode, static_cast<std::int32_t>(key->keycode - kEvdevOffset)};
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
