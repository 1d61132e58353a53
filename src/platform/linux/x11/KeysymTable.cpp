#include "platform/linux/x11/KeysymTable.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon-x11.h>
// A member of xcb/xkb.h is named after a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <utility>

namespace quillant::linux_platform {

namespace {

using hotkey::Key;
using hotkey::KeyCase;

// XF86XK_Fn; the header spells it with a macro it undefines again.
constexpr std::uint32_t kFnKeysym = 0x100811D0;

// In key case order (checked below).
constexpr std::array<std::pair<KeyCase, std::uint32_t>, Key::caseCount> kKeysyms{{
    {KeyCase::a, XK_a}, {KeyCase::b, XK_b}, {KeyCase::c, XK_c}, {KeyCase::d, XK_d}, {KeyCase::e, XK_e},
    {KeyCase::f, XK_f}, {KeyCase::g, XK_g}, {KeyCase::h, XK_h}, {KeyCase::i, XK_i}, {KeyCase::j, XK_j},
    {KeyCase::k, XK_k}, {KeyCase::l, XK_l}, {KeyCase::m, XK_m}, {KeyCase::n, XK_n}, {KeyCase::o, XK_o},
    {KeyCase::p, XK_p}, {KeyCase::q, XK_q}, {KeyCase::r, XK_r}, {KeyCase::s, XK_s}, {KeyCase::t, XK_t},
    {KeyCase::u, XK_u}, {KeyCase::v, XK_v}, {KeyCase::w, XK_w}, {KeyCase::x, XK_x}, {KeyCase::y, XK_y},
    {KeyCase::z, XK_z}, {KeyCase::zero, XK_0}, {KeyCase::one, XK_1}, {KeyCase::two, XK_2},
    {KeyCase::three, XK_3}, {KeyCase::four, XK_4}, {KeyCase::five, XK_5}, {KeyCase::six, XK_6},
    {KeyCase::seven, XK_7}, {KeyCase::eight, XK_8}, {KeyCase::nine, XK_9}, {KeyCase::period, XK_period},
    {KeyCase::quote, XK_apostrophe}, {KeyCase::rightBracket, XK_bracketright},
    {KeyCase::semicolon, XK_semicolon}, {KeyCase::slash, XK_slash}, {KeyCase::backslash, XK_backslash},
    {KeyCase::comma, XK_comma}, {KeyCase::equal, XK_equal}, {KeyCase::grave, XK_grave},
    {KeyCase::leftBracket, XK_bracketleft}, {KeyCase::minus, XK_minus}, {KeyCase::section, XK_section},
    {KeyCase::space, XK_space}, {KeyCase::tab, XK_Tab}, {KeyCase::return_, XK_Return},
    {KeyCase::command, XK_Super_L}, {KeyCase::rightCommand, XK_Super_R}, {KeyCase::option, XK_Alt_L},
    {KeyCase::rightOption, XK_Alt_R}, {KeyCase::control, XK_Control_L}, {KeyCase::rightControl, XK_Control_R},
    {KeyCase::shift, XK_Shift_L}, {KeyCase::rightShift, XK_Shift_R}, {KeyCase::function, kFnKeysym},
    {KeyCase::capsLock, XK_Caps_Lock}, {KeyCase::pageUp, XK_Prior}, {KeyCase::pageDown, XK_Next},
    {KeyCase::home, XK_Home}, {KeyCase::end, XK_End}, {KeyCase::upArrow, XK_Up},
    {KeyCase::rightArrow, XK_Right}, {KeyCase::downArrow, XK_Down}, {KeyCase::leftArrow, XK_Left},
    {KeyCase::f1, XK_F1}, {KeyCase::f2, XK_F2}, {KeyCase::f3, XK_F3}, {KeyCase::f4, XK_F4},
    {KeyCase::f5, XK_F5}, {KeyCase::f6, XK_F6}, {KeyCase::f7, XK_F7}, {KeyCase::f8, XK_F8},
    {KeyCase::f9, XK_F9}, {KeyCase::f10, XK_F10}, {KeyCase::f11, XK_F11}, {KeyCase::f12, XK_F12},
    {KeyCase::f13, XK_F13}, {KeyCase::f14, XK_F14}, {KeyCase::f15, XK_F15}, {KeyCase::f16, XK_F16},
    {KeyCase::f17, XK_F17}, {KeyCase::f18, XK_F18}, {KeyCase::f19, XK_F19}, {KeyCase::f20, XK_F20},
    {KeyCase::keypad0, XK_KP_0}, {KeyCase::keypad1, XK_KP_1}, {KeyCase::keypad2, XK_KP_2},
    {KeyCase::keypad3, XK_KP_3}, {KeyCase::keypad4, XK_KP_4}, {KeyCase::keypad5, XK_KP_5},
    {KeyCase::keypad6, XK_KP_6}, {KeyCase::keypad7, XK_KP_7}, {KeyCase::keypad8, XK_KP_8},
    {KeyCase::keypad9, XK_KP_9}, {KeyCase::keypadClear, XK_Clear}, {KeyCase::keypadDecimal, XK_KP_Decimal},
    {KeyCase::keypadDivide, XK_KP_Divide}, {KeyCase::keypadEnter, XK_KP_Enter},
    {KeyCase::keypadEquals, XK_KP_Equal}, {KeyCase::keypadMinus, XK_KP_Subtract},
    {KeyCase::keypadMultiply, XK_KP_Multiply}, {KeyCase::keypadPlus, XK_KP_Add}, {KeyCase::escape, XK_Escape},
    {KeyCase::delete_, XK_BackSpace}, {KeyCase::forwardDelete, XK_Delete}, {KeyCase::help, XK_Help},
    {KeyCase::volumeUp, XF86XK_AudioRaiseVolume}, {KeyCase::volumeDown, XF86XK_AudioLowerVolume},
    {KeyCase::mute, XF86XK_AudioMute},
}};

constexpr bool inCaseOrder() {
    for (std::size_t i = 0; i < kKeysyms.size(); ++i)
        if (static_cast<std::size_t>(kKeysyms[i].first) != i) return false;
    return true;
}
static_assert(inCaseOrder());

// Keysyms that other shift levels, NumLock off or other layouts give the same
// physical key (US layout for the shifted signs).
constexpr std::pair<std::uint32_t, KeyCase> kAliases[] = {
    {XK_exclam, KeyCase::one}, {XK_at, KeyCase::two}, {XK_numbersign, KeyCase::three},
    {XK_dollar, KeyCase::four}, {XK_percent, KeyCase::five}, {XK_asciicircum, KeyCase::six},
    {XK_ampersand, KeyCase::seven}, {XK_asterisk, KeyCase::eight}, {XK_parenleft, KeyCase::nine},
    {XK_parenright, KeyCase::zero}, {XK_underscore, KeyCase::minus}, {XK_plus, KeyCase::equal},
    {XK_braceleft, KeyCase::leftBracket}, {XK_braceright, KeyCase::rightBracket}, {XK_bar, KeyCase::backslash},
    {XK_colon, KeyCase::semicolon}, {XK_quotedbl, KeyCase::quote}, {XK_less, KeyCase::comma},
    {XK_greater, KeyCase::period}, {XK_question, KeyCase::slash}, {XK_asciitilde, KeyCase::grave},
    {XK_ISO_Left_Tab, KeyCase::tab}, {XK_KP_Insert, KeyCase::keypad0}, {XK_KP_End, KeyCase::keypad1},
    {XK_KP_Down, KeyCase::keypad2}, {XK_KP_Next, KeyCase::keypad3}, {XK_KP_Left, KeyCase::keypad4},
    {XK_KP_Begin, KeyCase::keypad5}, {XK_KP_Right, KeyCase::keypad6}, {XK_KP_Home, KeyCase::keypad7},
    {XK_KP_Up, KeyCase::keypad8}, {XK_KP_Prior, KeyCase::keypad9}, {XK_KP_Delete, KeyCase::keypadDecimal},
    {XK_Meta_L, KeyCase::command}, {XK_Meta_R, KeyCase::rightCommand}, {XK_ISO_Level3_Shift, KeyCase::rightOption},
};

}  // namespace

std::uint32_t keysymForKey(Key key) noexcept { return kKeysyms[static_cast<std::size_t>(key.value())].second; }

std::optional<Key> keyForKeysym(std::uint32_t keysym) noexcept {
    // Latin capitals are the same key as their small letters.
    if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
    for (const auto& [value, sym] : kKeysyms)
        if (sym == keysym) return Key(value);
    for (const auto& [sym, value] : kAliases)
        if (sym == keysym) return Key(value);
    return std::nullopt;
}

XKeyboardMap::XKeyboardMap(xcb_connection_t* connection) : connection_(connection) {
    std::uint8_t base = 0;
    xkb_ = xkb_x11_setup_xkb_extension(connection_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                       XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &base, nullptr) == 1;
    if (xkb_) {
        xkbEventBase_ = base;
        device_ = xkb_x11_get_core_keyboard_device_id(connection_);
        context_ = xkb_context_new(
            xkb_context_flags(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
        xkb_ = device_ >= 0 && context_ != nullptr;
    }
    reload();
}

XKeyboardMap::~XKeyboardMap() {
    if (context_) xkb_context_unref(context_);
}

void XKeyboardMap::reload() {
    auto modifierCookie = xcb_get_modifier_mapping(connection_);
    Keymap next;
    xkb_keymap* keymap =
        xkb_ ? xkb_x11_keymap_new_from_device(context_, connection_, device_, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (keymap) {
        for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap) && code < 256;
             ++code) {
            Keymap::Key key{std::uint8_t(code), {}};
            const xkb_layout_index_t groups = xkb_keymap_num_layouts_for_key(keymap, code);
            for (xkb_layout_index_t group = 0; group < groups; ++group) {
                auto& levels = key.groups.emplace_back();
                const xkb_level_index_t count = xkb_keymap_num_levels_for_key(keymap, code, group);
                for (xkb_level_index_t level = 0; level < count; ++level) {
                    const xkb_keysym_t* syms = nullptr;
                    const int n = xkb_keymap_key_get_syms_by_level(keymap, code, group, level, &syms);
                    levels.emplace_back(syms, syms + std::max(n, 0));
                }
            }
            if (!key.groups.empty()) next.keys.push_back(std::move(key));
        }
        if (xkb_state* state = xkb_x11_state_new_from_device(keymap, connection_, device_)) {
            next.activeGroup = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
            xkb_state_unref(state);
        }
        xkb_keymap_unref(keymap);
    } else {
        readCoreMap(next);
    }
    if (auto* reply = xcb_get_modifier_mapping_reply(connection_, modifierCookie, nullptr)) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
        const int perRow = reply->keycodes_per_modifier;
        for (std::size_t row = 0; row < kModifierRows; ++row)
            for (int i = 0; i < perRow; ++i)
                if (auto code = codes[row * perRow + i]; code != 0) next.modifiers[row].push_back(code);
        std::free(reply);
    }
    keymap_ = std::move(next);
}

void XKeyboardMap::readCoreMap(Keymap& next) {
    // No XKB: one group per key, its columns as levels.
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto cookie = xcb_get_keyboard_mapping(connection_, setup->min_keycode, std::uint8_t(count));
    auto* reply = xcb_get_keyboard_mapping_reply(connection_, cookie, nullptr);
    if (!reply) return;
    const std::size_t per = reply->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const std::size_t total = std::size_t(xcb_get_keyboard_mapping_keysyms_length(reply));
    for (std::size_t k = 0; per != 0 && (k + 1) * per <= total; ++k) {
        Keymap::Key key{std::uint8_t(setup->min_keycode + k), {{}}};
        for (std::size_t column = 0; column < per; ++column)
            key.groups[0].push_back(syms[k * per + column] ? std::vector<std::uint32_t>{syms[k * per + column]}
                                                           : std::vector<std::uint32_t>{});
        next.keys.push_back(std::move(key));
    }
    std::free(reply);
}

std::optional<xcb_keycode_t> XKeyboardMap::keycodeFor(std::uint32_t keysym) const {
    return linux_platform::keycodeFor(keymap_, keysym);
}

bool XKeyboardMap::isModifier(xcb_keycode_t keycode) const {
    for (const auto& row : keymap_.modifiers)
        if (std::find(row.begin(), row.end(), keycode) != row.end()) return true;
    return false;
}

std::optional<xcb_keycode_t> XKeyboardMap::controlKeycode() const { return linux_platform::controlKeycode(keymap_); }

LockModifiers XKeyboardMap::lockModifiers() const { return linux_platform::lockModifiers(keymap_); }

void XKeyboardMap::watchChanges() {
    if (!xkb_) return;  // the core MappingNotify still comes
    constexpr std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                     XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                       XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS |
                                       XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                       XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = XCB_XKB_STATE_PART_GROUP_STATE;
    details.stateDetails = XCB_XKB_STATE_PART_GROUP_STATE;
    xcb_xkb_select_events_aux(connection_, xcb_xkb_device_spec_t(device_), events, 0, 0, mapParts, mapParts,
                              &details);
    xcb_flush(connection_);
}

XKeyboardMap::Change XKeyboardMap::handle(const xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) {
        if (reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request == XCB_MAPPING_POINTER)
            return Change::none;
        reload();
        return Change::map;
    }
    if (!xkb_ || type != xkbEventBase_) return Change::none;
    // Every XKB event carries its own kind in the second byte.
    switch (reinterpret_cast<const std::uint8_t*>(event)[1]) {
        case XCB_XKB_NEW_KEYBOARD_NOTIFY:
        case XCB_XKB_MAP_NOTIFY:
            reload();
            return Change::map;
        case XCB_XKB_STATE_NOTIFY: {
            const auto* state = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
            if (!(state->changed & XCB_XKB_STATE_PART_GROUP_STATE) || state->group == keymap_.activeGroup)
                return Change::none;
            keymap_.activeGroup = state->group;
            return Change::group;
        }
        default:
            return Change::none;
    }
}

}  // namespace quillant::linux_platform
