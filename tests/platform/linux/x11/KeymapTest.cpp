// The keycode, Control-key and lock-modifier choices, on keyboard maps
// written down as data (the shapes the server reports for real layouts).
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "platform/linux/x11/Keymap.h"

namespace quillant::testing {
namespace {

using linux_platform::Keymap;
using linux_platform::LockModifiers;
using Groups = std::vector<std::vector<std::vector<std::uint32_t>>>;

constexpr std::uint16_t kShift = 1u << 0, kLock = 1u << 1, kControl = 1u << 2, kMod1 = 1u << 3, kMod2 = 1u << 4,
                        kMod3 = 1u << 5, kMod4 = 1u << 6, kMod5 = 1u << 7;

// Two levels per group, one keysym per level.
Groups groups(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> perGroup) {
    Groups out;
    for (auto [lower, upper] : perGroup) out.push_back({{lower}, {upper}});
    return out;
}

// The keys that matter here at their evdev keycodes; c, v, g and i given as
// the keysyms of each group of a layout such as "ru,us".
Keymap pcKeys(Groups c, Groups v, Groups g, Groups i = groups({{XK_i, XK_I}})) {
    Keymap map;
    map.keys = {
        {31, std::move(i)},
        {37, {{{XK_Control_L}}}},
        {42, std::move(g)},
        {50, {{{XK_Shift_L}}}},
        {54, std::move(c)},
        {55, std::move(v)},
        {64, {{{XK_Alt_L}, {XK_Meta_L}}}},
        {66, {{{XK_Caps_Lock}}}},
        {77, {{{XK_Num_Lock}}}},
        {78, {{{XK_Scroll_Lock}}}},
        {105, {{{XK_Control_R}}}},
        {133, {{{XK_Super_L}}}},
    };
    map.modifiers = {{{50}, {66}, {37, 105}, {64}, {77}, {}, {133}, {}}};
    return map;
}

Keymap us() { return pcKeys(groups({{XK_c, XK_C}}), groups({{XK_v, XK_V}}), groups({{XK_g, XK_G}})); }
Keymap ruUs() {
    return pcKeys(groups({{XK_Cyrillic_es, XK_Cyrillic_ES}, {XK_c, XK_C}}),
                  groups({{XK_Cyrillic_em, XK_Cyrillic_EM}, {XK_v, XK_V}}),
                  groups({{XK_Cyrillic_pe, XK_Cyrillic_PE}, {XK_g, XK_G}}));
}
// us,dvorak: Dvorak puts c on the key of i, g on the key of u (not modelled).
Keymap usDvorak() {
    return pcKeys(groups({{XK_c, XK_C}, {XK_j, XK_J}}), groups({{XK_v, XK_V}, {XK_k, XK_K}}),
                  groups({{XK_g, XK_G}, {XK_i, XK_I}}), groups({{XK_i, XK_I}, {XK_c, XK_C}}));
}
Keymap withGroup(Keymap map, std::uint32_t group) {
    map.activeGroup = group;
    return map;
}

struct KeycodeCase {
    std::string name;
    Keymap keymap;
    std::uint32_t keysym;
    std::optional<std::uint8_t> expected;
};
void PrintTo(const KeycodeCase& c, std::ostream* os) { *os << c.name; }

class KeycodeChoice : public ::testing::TestWithParam<KeycodeCase> {};

TEST_P(KeycodeChoice, PicksThePhysicalKeyAToolkitReadsAsTheLatinLetter) {
    const auto& c = GetParam();
    EXPECT_EQ(linux_platform::keycodeFor(c.keymap, c.keysym), c.expected);
}

Keymap levelThreeC() {
    // AltGr+h gives c on key 43; the plain c on key 54 must win.
    Keymap map = us();
    map.keys.insert(map.keys.begin() + 3, Keymap::Key{43, {{{XK_h}, {XK_H}, {XK_c}}}});
    return map;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, KeycodeChoice,
    ::testing::Values(KeycodeCase{"UsC", us(), XK_c, 54}, KeycodeCase{"UsG", us(), XK_g, 42},
                      KeycodeCase{"RuSelectedCFromTheLatinGroup", ruUs(), XK_c, 54},
                      KeycodeCase{"RuSelectedV", ruUs(), XK_v, 55}, KeycodeCase{"RuSelectedG", ruUs(), XK_g, 42},
                      KeycodeCase{"UsSelectedOfRuUs", withGroup(ruUs(), 1), XK_c, 54},
                      KeycodeCase{"DvorakNotSelectedUsesUsKey", usDvorak(), XK_c, 54},
                      KeycodeCase{"DvorakSelectedUsesDvorakKey", withGroup(usDvorak(), 1), XK_c, 31},
                      KeycodeCase{"SingleGroupKeyWrapsIntoSecondGroup", withGroup(ruUs(), 1), XK_Control_L, 37},
                      KeycodeCase{"GroupBeyondTheMapWraps", withGroup(usDvorak(), 3), XK_c, 31},
                      KeycodeCase{"UpperLevelOnlyWhenNoLowerLevel", us(), XK_C, 54},
                      KeycodeCase{"LowestLevelBeatsLowestKeycode", levelThreeC(), XK_c, 54},
                      KeycodeCase{"NoKeyForTheKeysym", ruUs(), XK_Greek_alpha, std::nullopt},
                      KeycodeCase{"NoKeysym", us(), 0, std::nullopt},
                      KeycodeCase{"EmptyMap", Keymap{}, XK_c, std::nullopt}),
    [](const auto& info) { return info.param.name; });

struct ControlCase {
    std::string name;
    Keymap keymap;
    std::optional<std::uint8_t> expected;
};
void PrintTo(const ControlCase& c, std::ostream* os) { *os << c.name; }

class ControlChoice : public ::testing::TestWithParam<ControlCase> {};

TEST_P(ControlChoice, OnlyAKeyThatReallySetsControlMayCarryTheChord) {
    EXPECT_EQ(linux_platform::controlKeycode(GetParam().keymap), GetParam().expected);
}

Keymap edited(Keymap map, const std::function<void(Keymap&)>& edit) {
    edit(map);
    return map;
}

INSTANTIATE_TEST_SUITE_P(
    Maps, ControlChoice,
    ::testing::Values(
        ControlCase{"LeftControl", us(), 37}, ControlCase{"InEveryGroup", withGroup(ruUs(), 1), 37},
        ControlCase{"LeftPreferredWhereverListed", edited(us(), [](Keymap& m) { m.modifiers[2] = {105, 37}; }), 37},
        ControlCase{"RightWhenLeftIsGone", edited(us(), [](Keymap& m) { m.modifiers[2] = {105}; }), 105},
        // ctrl:nocaps: the Caps Lock key produces Control_L and sits under Control.
        ControlCase{"CapsLockKeyAsControl", edited(us(),
                                                   [](Keymap& m) {
                                                       m.keys[7].groups = {{{XK_Control_L}}};
                                                       m.modifiers[1] = {};
                                                       m.modifiers[2] = {66};
                                                   }),
                    66},
        ControlCase{"ControlRowCleared", edited(us(), [](Keymap& m) { m.modifiers[2] = {}; }), std::nullopt},
        ControlCase{"ControlKeysymsRemoved", edited(us(),
                                                    [](Keymap& m) {
                                                        m.keys[1].groups = {{{}}};
                                                        m.keys[10].groups = {{{}}};
                                                    }),
                    std::nullopt},
        ControlCase{"ControlKeyUnderAnotherModifier", edited(us(), [](Keymap& m) { m.modifiers[2] = {64}; }),
                    std::nullopt}),
    [](const auto& info) { return info.param.name; });

struct LockCase {
    std::string name;
    Keymap keymap;
    LockModifiers expected;
};
void PrintTo(const LockCase& c, std::ostream* os) { *os << c.name; }

class LockBits : public ::testing::TestWithParam<LockCase> {};

TEST_P(LockBits, AreReadFromTheModifierMap) {
    EXPECT_EQ(linux_platform::lockModifiers(GetParam().keymap), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, LockBits,
    ::testing::Values(
        LockCase{"NumLockOnMod2", us(), {kLock, kMod2, 0}},
        LockCase{"NumLockMovedToMod3", edited(us(),
                                              [](Keymap& m) {
                                                  m.modifiers[4] = {};
                                                  m.modifiers[5] = {77};
                                              }),
                 {kLock, kMod3, 0}},
        LockCase{"NumLockNotMapped", edited(us(), [](Keymap& m) { m.modifiers[4] = {}; }), {kLock, 0, 0}},
        LockCase{"ScrollLockOnMod5", edited(us(), [](Keymap& m) { m.modifiers[7] = {78}; }), {kLock, kMod2, kMod5}},
        LockCase{"NumLockUnderControlIsNoLock", edited(us(),
                                                       [](Keymap& m) {
                                                           m.modifiers[4] = {};
                                                           m.modifiers[2].push_back(77);
                                                       }),
                 {kLock, 0, 0}},
        LockCase{"NumLockInTheSecondGroupOnly", edited(us(), [](Keymap& m) { m.keys[8].groups = {{{XK_KP_Home}}, {{XK_Num_Lock}}}; }),
                 {kLock, kMod2, 0}}),
    [](const auto& info) { return info.param.name; });

struct VariantCase {
    std::string name;
    LockModifiers locks;
    std::uint16_t mask;
    std::set<std::uint16_t> expected;
};
void PrintTo(const VariantCase& c, std::ostream* os) { *os << c.name; }

class GrabVariants : public ::testing::TestWithParam<VariantCase> {};

TEST_P(GrabVariants, CoverEveryLockStateOnceAndNeverTouchTheHotkeysOwnBits) {
    const auto& c = GetParam();
    const auto variants = linux_platform::lockVariants(c.locks, c.mask);
    ASSERT_FALSE(variants.empty());
    EXPECT_EQ(variants.front(), 0u) << "the plain combination comes first";
    EXPECT_EQ(std::set<std::uint16_t>(variants.begin(), variants.end()), c.expected);
    EXPECT_EQ(variants.size(), c.expected.size()) << "a variant is grabbed twice";
}

constexpr std::uint16_t kAltShift = kMod1 | kShift;

INSTANTIATE_TEST_SUITE_P(
    Locks, GrabVariants,
    ::testing::Values(
        VariantCase{"CapsAndNum", {kLock, kMod2, 0}, kAltShift, {0, kLock, kMod2, kLock | kMod2}},
        VariantCase{"NumOnMod3", {kLock, kMod3, 0}, kAltShift, {0, kLock, kMod3, kLock | kMod3}},
        VariantCase{"WithScroll",
                    {kLock, kMod2, kMod5},
                    kAltShift,
                    {0, kLock, kMod2, kMod5, kLock | kMod2, kLock | kMod5, kMod2 | kMod5, kLock | kMod2 | kMod5}},
        VariantCase{"NoNumLock", {kLock, 0, 0}, kAltShift, {0, kLock}},
        VariantCase{"NumSharesTheHotkeysSuperBit", {kLock, kMod4, 0}, kMod4 | kShift, {0, kLock}},
        VariantCase{"NumAndScrollOnOneBit", {kLock, kMod3, kMod3}, kControl, {0, kLock, kMod3, kLock | kMod3}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillant::testing
