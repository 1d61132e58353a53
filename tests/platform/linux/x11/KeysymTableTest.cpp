#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <set>

#include "X11DesktopFixture.h"
#include "platform/linux/x11/KeysymTable.h"

namespace quillant::testing {
namespace {

using hotkey::Key;
using hotkey::KeyCase;
using linux_platform::keyForKeysym;
using linux_platform::keysymForKey;

TEST(KeysymTable, EveryKeyHasItsOwnKeysymThatMapsBack) {
    std::set<std::uint32_t> seen;
    for (Key key : Key::allCases()) {
        const auto sym = keysymForKey(key);
        EXPECT_NE(sym, 0u) << key.caseName();
        EXPECT_TRUE(seen.insert(sym).second) << key.caseName() << " shares its keysym";
        EXPECT_EQ(keyForKeysym(sym), key) << key.caseName();
    }
}

TEST(KeysymTable, OtherLevelsOfAKeyMapToTheSameKey) {
    const std::pair<std::uint32_t, KeyCase> cases[] = {
        {XK_G, KeyCase::g},           {XK_exclam, KeyCase::one},        {XK_question, KeyCase::slash},
        {XK_KP_End, KeyCase::keypad1}, {XK_ISO_Left_Tab, KeyCase::tab}, {XK_asciitilde, KeyCase::grave},
    };
    for (auto [sym, value] : cases) EXPECT_EQ(keyForKeysym(sym), Key(value)) << std::hex << sym;
    EXPECT_EQ(keyForKeysym(XK_Greek_alpha), std::nullopt);
}

class KeyboardMapTest : public X11DesktopTest {};

TEST_F(KeyboardMapTest, TheDefaultLayoutHasTheKeysOfAPcKeyboard) {
    xcb_connection_t* connection = xcb_connect(xvfb.display().c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);
    {
        linux_platform::XKeyboardMap map(connection);
        for (KeyCase value : {KeyCase::a, KeyCase::g, KeyCase::c, KeyCase::v, KeyCase::zero, KeyCase::f12,
                              KeyCase::leftArrow, KeyCase::keypad5, KeyCase::escape, KeyCase::option, KeyCase::shift})
            EXPECT_TRUE(map.keycodeFor(Key(value))) << Key(value).caseName();
        const auto shift = map.keycodeFor(Key(KeyCase::shift));
        const auto g = map.keycodeFor(Key(KeyCase::g));
        ASSERT_TRUE(shift && g);
        EXPECT_TRUE(map.isModifier(*shift));
        EXPECT_FALSE(map.isModifier(*g));
    }
    xcb_disconnect(connection);
}

}  // namespace
}  // namespace quillant::testing
