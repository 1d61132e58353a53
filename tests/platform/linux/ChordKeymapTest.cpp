// Which keys a chord presses, from keymaps compiled by xkbcommon as the
// compositor compiles them: the layouts users have, and keymaps that lack
// what a chord needs.
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

#include "platform/linux/ChordKeymap.h"

namespace quillant::linux_platform {
namespace {


// xkb keycodes of a PC keyboard (evdev + 8).
constexpr std::uint32_t kC = 54, kV = 55, kControlL = 37, kCapsLock = 66, kShiftL = 50, kI = 31, kPeriod = 60;

struct LayoutCase {
    const char* name;
    const char* layout;
    const char* variant;
    const char* options;
    std::optional<ChordKey> c, v;
    std::uint32_t control;
};

class ChordKeymapTest : public ::testing::TestWithParam<LayoutCase> {
protected:
    XkbContextPtr context{xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES)};
    XkbKeymapPtr compile(const LayoutCase& c) {
        xkb_rule_names names{"evdev", "pc105", c.layout, c.variant, c.options};
        return XkbKeymapPtr(
            xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    }
};

TEST_P(ChordKeymapTest, FindsTheLettersInTheirLayoutAndTheKeyThatSetsControl) {
    auto keymap = compile(GetParam());
    ASSERT_TRUE(keymap);
    const ChordKeymap keys = chordKeymap(keymap.get());
    EXPECT_EQ(keys.c, GetParam().c);
    EXPECT_EQ(keys.v, GetParam().v);
    ASSERT_TRUE(keys.control);
    EXPECT_EQ(keys.control->keycode, GetParam().control);
    EXPECT_EQ(keys.control->mask, 1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL));
    ASSERT_TRUE(keys.shift);
    EXPECT_EQ(keys.shift->keycode, kShiftL);
    EXPECT_EQ(keys.complete(), GetParam().c && GetParam().v);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ChordKeymapTest,
    ::testing::Values(LayoutCase{"us", "us", "", "", ChordKey{kC, 0}, ChordKey{kV, 0}, kControlL},
                      LayoutCase{"de", "de", "", "", ChordKey{kC, 0}, ChordKey{kV, 0}, kControlL},
                      // Dvorak moves the letters: the key that gives them, not the QWERTY position.
                      LayoutCase{"dvorak", "us", "dvorak", "", ChordKey{kI, 0}, ChordKey{kPeriod, 0}, kControlL},
                      // A Cyrillic first layout: the Latin letters come from the second.
                      LayoutCase{"ru_us", "ru,us", "", "", ChordKey{kC, 1}, ChordKey{kV, 1}, kControlL},
                      LayoutCase{"us_ru", "us,ru", "", "", ChordKey{kC, 0}, ChordKey{kV, 0}, kControlL},
                      // Caps Lock and Control swapped: the key that now sets Control.
                      LayoutCase{"swapcaps", "us", "", "ctrl:swapcaps", ChordKey{kC, 0}, ChordKey{kV, 0}, kCapsLock},
                      // Cyrillic only: no key gives a Latin C, so no chord can be made.
                      LayoutCase{"ru_only", "ru", "", "", std::nullopt, std::nullopt, kControlL}),
    [](const auto& info) { return std::string(info.param.name); });

// A keymap whose Control_L key sets no modifier: pressing it with C would
// type a bare letter, so there is no Control to be had.
TEST(ChordKeymap, AKeyThatOnlyLooksLikeControlIsNotTaken) {
    XkbContextPtr context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    const char* text = R"(xkb_keymap {
  xkb_keycodes { minimum = 8; maximum = 255; <LCTL> = 37; <LFSH> = 50; <AB03> = 54; <AB04> = 55; };
  xkb_types { include "complete" };
  xkb_compat { };
  xkb_symbols {
    key <LCTL> { [ Control_L ] };
    key <LFSH> { [ Shift_L ] };
    key <AB03> { [ c, C ] };
    key <AB04> { [ v, V ] };
  };
};)";
    XkbKeymapPtr keymap(
        xkb_keymap_new_from_string(context.get(), text, XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    ASSERT_TRUE(keymap);
    const ChordKeymap keys = chordKeymap(keymap.get());
    EXPECT_FALSE(keys.control);
    EXPECT_FALSE(keys.shift);
    EXPECT_EQ(keys.c, (ChordKey{kC, 0}));
    EXPECT_FALSE(keys.complete());
}

}  // namespace
}  // namespace quillant::linux_platform
