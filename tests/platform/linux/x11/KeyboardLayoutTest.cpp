// Keyboard layouts and lock modifiers on a real server: maps loaded with
// setxkbmap and changed with xmodmap, as users do; the hotkey pressed with
// xdotool by physical key; the chord read by the key-log window the way a
// toolkit reads shortcuts.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "X11DesktopFixture.h"
#include "clipboard/KeyEventSynth.h"
#include "hotkey/ModifierFlags.h"
#include "platform/linux/x11/X11HotKeyService.h"
#include "platform/linux/x11/XTestKeyEventPoster.h"
#include "testsupport/XkbGroup.h"

namespace quillant::testing {
namespace {

using hotkey::HotKeyEvent;
using linux_platform::X11HotKeyService;
using linux_platform::XKeyboardMap;
using linux_platform::XTestKeyEventPoster;

constexpr std::uint32_t kKeyG = 5;
constexpr std::uint32_t kAltShift = hotkey::carbon::optionKey | hotkey::carbon::shiftKey;
constexpr hotkey::EventHotKeyID kID{0x51746167, 3};
// Physical keys (evdev keycodes) of a PC keyboard.
constexpr int kKeycodeG = 42, kKeycodeC = 54, kKeycodeV = 55, kKeycodeControlL = 37, kKeycodeAltL = 64,
              kKeycodeShiftL = 50;
// Dvorak puts g on the key of u.
constexpr int kDvorakKeycodeG = 30;

struct Layout {
    std::string layouts;
    std::string variants;
};

// "ru,us" with ",dvorak" → "ru_us_dvorak", for test names.
std::string nameOf(const Layout& layout) {
    std::string name;
    for (char c : layout.layouts + layout.variants) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

class KeyboardLayoutTest : public X11DesktopTest {
protected:
    XkbGroup group{xvfb.display()};

    int run(const std::vector<std::string>& argv) { return Process::start(argv, xvfb.env()).wait(10s); }
    void load(const Layout& layout) {
        std::vector<std::string> argv{"setxkbmap", "-layout", layout.layouts};
        if (!layout.variants.empty()) argv.insert(argv.end(), {"-variant", layout.variants});
        ASSERT_EQ(run(argv), 0) << layout.layouts;
    }
    void xmodmap(const std::vector<std::string>& expressions) {
        std::vector<std::string> argv{"xmodmap"};
        for (const auto& e : expressions) argv.insert(argv.end(), {"-e", e});
        ASSERT_EQ(run(argv), 0);
    }
    // Alt+Shift and a physical key, pressed and released, as a keyboard does
    // it: by keycode, in whatever group is selected (xdotool would select
    // other groups while it types).
    void pressHotkeyOn(int keycode) {
        xcb_connection_t* connection = xcb_connect(xvfb.display().c_str(), nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const int keys[] = {kKeycodeAltL, kKeycodeShiftL, keycode};
        for (int key : keys) xcb_test_fake_input(connection, XCB_KEY_PRESS, key, XCB_CURRENT_TIME, root, 0, 0, 0);
        for (int i = 2; i >= 0; --i)
            xcb_test_fake_input(connection, XCB_KEY_RELEASE, keys[i], XCB_CURRENT_TIME, root, 0, 0, 0);
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        xcb_disconnect(connection);
    }
};

// ---------------------------------------------------------------------------
// Finding the keys

struct MapCase {
    Layout layout;
    bool latinInSecondGroupOnly;
};
void PrintTo(const MapCase& c, std::ostream* os) { *os << nameOf(c.layout); }

class LayoutKeysTest : public KeyboardLayoutTest, public ::testing::WithParamInterface<MapCase> {};

TEST_P(LayoutKeysTest, CopyPasteAndHotkeyKeysAreFoundOnTheirPhysicalKeys) {
    load(GetParam().layout);
    xcb_connection_t* connection = xcb_connect(xvfb.display().c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);
    {
        XKeyboardMap map(connection);
        EXPECT_EQ(map.keycodeFor(XK_c), kKeycodeC);
        EXPECT_EQ(map.keycodeFor(XK_v), kKeycodeV);
        EXPECT_EQ(map.keycodeFor(hotkey::Key(hotkey::KeyCase::g)), kKeycodeG);
        EXPECT_EQ(map.controlKeycode(), kKeycodeControlL);
        EXPECT_EQ(map.lockModifiers().numLock, XCB_MOD_MASK_2);
        if (GetParam().latinInSecondGroupOnly) {
            const auto& keys = map.keymap().keys;
            auto c = std::find_if(keys.begin(), keys.end(), [](const auto& k) { return k.keycode == kKeycodeC; });
            ASSERT_NE(c, keys.end());
            ASSERT_EQ(c->groups.size(), 2u);
            ASSERT_FALSE(c->groups[0][0].empty() || c->groups[1][0].empty());
            EXPECT_NE(c->groups[0][0].front(), std::uint32_t(XK_c)) << "the first group is not Latin";
            EXPECT_EQ(c->groups[1][0].front(), std::uint32_t(XK_c));
        }
    }
    xcb_disconnect(connection);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutKeysTest,
                         ::testing::Values(MapCase{{"us", ""}, false}, MapCase{{"ru,us", ""}, true},
                                           MapCase{{"gr,us", ""}, true}, MapCase{{"il,us", ""}, true},
                                           MapCase{{"ua,us", ""}, true}, MapCase{{"de", ""}, false},
                                           MapCase{{"fr", ""}, false}),
                         [](const auto& info) { return nameOf(info.param.layout); });

// ---------------------------------------------------------------------------
// The hotkey in every group

class HotkeyLayoutTest : public KeyboardLayoutTest {
protected:
    std::unique_ptr<X11HotKeyService> service;
    std::vector<HotKeyEvent> events;

    void arm() {
        service = std::make_unique<X11HotKeyService>(logger, xvfb.display());
        service->installEventHandler([this](const HotKeyEvent& event) {
            events.push_back(event);
            return hotkey::noErr;
        });
        const auto registration = service->registerEventHotKey(kKeyG, kAltShift, kID);
        ASSERT_EQ(registration.status, hotkey::noErr);
    }
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = 10s) {
        return testing::pumpUntil(service->fd(), [this] { service->processPendingEvents(); }, done, bound);
    }
    // Pressed and released once more.
    bool firesOn(int keycode) {
        const auto before = events.size();
        pressHotkeyOn(keycode);
        if (!pumpUntil([&] { return events.size() >= before + 2; })) return false;
        return events[before].kind == hotkey::kEventHotKeyPressed &&
               events[before + 1].kind == hotkey::kEventHotKeyReleased;
    }
    bool staysQuietOn(int keycode) {
        const auto before = events.size();
        pressHotkeyOn(keycode);
        pumpUntil([] { return false; }, 300ms);
        return events.size() == before;
    }
    bool regrabbed() {
        return pumpUntil([&] { return logger.contains("hotkey(s) grabbed again"); });
    }
};

struct GroupCase {
    Layout layout;
    int keycodeInSecondGroup;
};
void PrintTo(const GroupCase& c, std::ostream* os) { *os << nameOf(c.layout); }

class HotkeyInEveryGroupTest : public HotkeyLayoutTest, public ::testing::WithParamInterface<GroupCase> {};

TEST_P(HotkeyInEveryGroupTest, FiresInTheFirstAndTheSecondGroupAcrossSwitchesWhileArmed) {
    load(GetParam().layout);
    arm();
    EXPECT_TRUE(firesOn(kKeycodeG)) << "first group";
    EXPECT_EQ(group.active(), 0u);

    group.lock(1);
    // Let the service see the switch before the user presses.
    pumpUntil([] { return false; }, 200ms);
    EXPECT_TRUE(firesOn(GetParam().keycodeInSecondGroup)) << "second group";
    EXPECT_EQ(group.active(), 1u);
    // Where the second layout moves the letter (Dvorak), the first layout's key is no hotkey there.
    if (GetParam().keycodeInSecondGroup != kKeycodeG) {
        EXPECT_TRUE(staysQuietOn(kKeycodeG));
    }

    group.lock(0);
    pumpUntil([] { return false; }, 200ms);
    EXPECT_TRUE(firesOn(kKeycodeG)) << "first group again";
}

INSTANTIATE_TEST_SUITE_P(Layouts, HotkeyInEveryGroupTest,
                         ::testing::Values(GroupCase{{"ru,us", ""}, kKeycodeG}, GroupCase{{"gr,us", ""}, kKeycodeG},
                                           GroupCase{{"de,us", ""}, kKeycodeG},
                                           GroupCase{{"us,us", ",dvorak"}, kDvorakKeycodeG}),
                         [](const auto& info) { return nameOf(info.param.layout); });

// ---------------------------------------------------------------------------
// Lock modifiers and keyboard changes while armed

struct LockCase {
    std::string name;
    std::vector<std::string> xmodmap;
    std::string lockKey;
    unsigned lockBit;
    bool changedWhileArmed;
};
void PrintTo(const LockCase& c, std::ostream* os) { *os << c.name; }

class LockModifierTest : public HotkeyLayoutTest, public ::testing::WithParamInterface<LockCase> {};

TEST_P(LockModifierTest, ALockOnTheBitTheModifierMapGivesItStillFires) {
    const auto& c = GetParam();
    if (c.changedWhileArmed) {
        arm();
        xmodmap(c.xmodmap);
        ASSERT_TRUE(regrabbed());
    } else {
        xmodmap(c.xmodmap);
        arm();
    }
    ASSERT_EQ(xdotool({"key", c.lockKey}), 0);
    ASSERT_EQ(group.modifiers() & c.lockBit, c.lockBit) << c.lockKey << " is on";
    EXPECT_TRUE(firesOn(kKeycodeG));
    ASSERT_EQ(xdotool({"key", "Caps_Lock"}), 0);
    EXPECT_TRUE(firesOn(kKeycodeG)) << "with CapsLock too";
}

const std::vector<std::string> kNumLockToMod3{"remove mod2 = Num_Lock", "add mod3 = Num_Lock"};

INSTANTIATE_TEST_SUITE_P(
    Maps, LockModifierTest,
    ::testing::Values(LockCase{"NumLockOnMod3BeforeArming", kNumLockToMod3, "Num_Lock", XCB_MOD_MASK_3, false},
                      LockCase{"NumLockOnMod3WhileArmed", kNumLockToMod3, "Num_Lock", XCB_MOD_MASK_3, true},
                      LockCase{"ScrollLockOnMod5WhileArmed", {"add mod5 = Scroll_Lock"}, "Scroll_Lock",
                               XCB_MOD_MASK_5, true}),
    [](const auto& info) { return info.param.name; });

struct ChangeCase {
    std::string name;
    std::vector<std::string> command;
    int newKeycode;
};
void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class KeyboardChangeTest : public HotkeyLayoutTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(KeyboardChangeTest, TheHotkeyFollowsItsKeyAndGivesTheOldGrabsBack) {
    arm();
    ASSERT_TRUE(firesOn(kKeycodeG));
    ASSERT_EQ(run(GetParam().command), 0);
    ASSERT_TRUE(regrabbed());

    EXPECT_TRUE(firesOn(GetParam().newKeycode));
    EXPECT_TRUE(staysQuietOn(kKeycodeG));
    constexpr std::uint16_t altShift = XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT;
    RawGrabber oldKey(xvfb, kKeycodeG), newKey(xvfb, xcb_keycode_t(GetParam().newKeycode));
    EXPECT_TRUE(oldKey.grab(altShift));
    EXPECT_TRUE(oldKey.grab(altShift | XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK));
    EXPECT_FALSE(newKey.grab(altShift));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, KeyboardChangeTest,
    ::testing::Values(ChangeCase{"Xmodmap", {"xmodmap", "-e", "keycode 42 = h H", "-e", "keycode 43 = g G"}, 43},
                      ChangeCase{"Setxkbmap", {"setxkbmap", "-layout", "us", "-variant", "dvorak"}, kDvorakKeycodeG}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The chord as the focused application reads it

class ChordLayoutTest : public KeyboardLayoutTest {
protected:
    // Made before any layout is loaded: it must follow every change.
    XTestKeyEventPoster poster{logger, xvfb.display()};
    clipboard::KeyEventSynth synth{poster};
};

struct ChordCase {
    Layout layout;
    unsigned group;
};
void PrintTo(const ChordCase& c, std::ostream* os) { *os << nameOf(c.layout) << " group " << c.group + 1; }

class ChordInEveryGroupTest : public ChordLayoutTest, public ::testing::WithParamInterface<ChordCase> {};

TEST_P(ChordInEveryGroupTest, ReadsAsControlCAndControlV) {
    load(GetParam().layout);
    group.lock(GetParam().group);
    KeyLog log(xvfb, {"--shortcut"});
    ASSERT_TRUE(poster.createEventSource());
    // The state the application sees: Control, and the selected group in bits 13–14.
    const std::string control = GetParam().group == 0 ? " 4" : " 2004";
    synth.sendCommand(clipboard::kKeyCodeC);
    EXPECT_EQ(log.next("press"), "press Control_L" + std::string(GetParam().group == 0 ? " 0" : " 2000"));
    EXPECT_EQ(log.next("press"), "press c" + control);
    EXPECT_EQ(log.next("release"), "release c" + control);
    synth.sendCommand(clipboard::kKeyCodeV);
    EXPECT_EQ(log.next("press v"), "press v" + control);
    EXPECT_EQ(group.active(), GetParam().group) << "the chord switched the layout";
    EXPECT_FALSE(poster.keysHeld());
}

INSTANTIATE_TEST_SUITE_P(Layouts, ChordInEveryGroupTest,
                         ::testing::Values(ChordCase{{"ru,us", ""}, 0}, ChordCase{{"ru,us", ""}, 1},
                                           ChordCase{{"il,us", ""}, 0}, ChordCase{{"de", ""}, 0},
                                           ChordCase{{"fr", ""}, 0}, ChordCase{{"us,us", ",dvorak"}, 1}),
                         [](const auto& info) {
                             return nameOf(info.param.layout) + "_group" + std::to_string(info.param.group + 1);
                         });

// Qt's own decision, for a toolkit that matches shortcuts itself.
TEST_P(ChordInEveryGroupTest, QtReadsThemAsItsCopyAndPasteShortcuts) {
    load(GetParam().layout);
    group.lock(GetParam().group);
    KeyLog qt(xvfb, {}, QUILLANT_QTSHORTCUTS);
    EXPECT_TRUE(synth.sendCommand(clipboard::kKeyCodeC));
    EXPECT_EQ(qt.next(""), "copy");
    synth.sendCommand(clipboard::kKeyCodeV);
    EXPECT_EQ(qt.next(""), "paste");
    EXPECT_EQ(group.active(), GetParam().group);
}

struct NoControlCase {
    std::string name;
    std::vector<std::string> xmodmap;
};
void PrintTo(const NoControlCase& c, std::ostream* os) { *os << c.name; }

class NoControlTest : public ChordLayoutTest, public ::testing::WithParamInterface<NoControlCase> {};

TEST_P(NoControlTest, NothingAtAllIsSent) {
    load({"ru,us", ""});
    xmodmap(GetParam().xmodmap);
    KeyLog log(xvfb, {"--shortcut"});
    // The user still holds the hotkey's modifiers: not even they are touched.
    ASSERT_EQ(xdotool({"keydown", "alt", "shift"}), 0);
    ASSERT_TRUE(log.next("press Shift_L"));
    EXPECT_FALSE(synth.sendCommand(clipboard::kKeyCodeC));
    EXPECT_FALSE(synth.sendCommand(clipboard::kKeyCodeV));
    EXPECT_EQ(log.next("", 500ms), std::nullopt);
    EXPECT_TRUE(logger.contains("Chord not sent: the keyboard map has no Control key"));
    EXPECT_TRUE(poster.keysHeld());
    ASSERT_EQ(xdotool({"keyup", "alt", "shift"}), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, NoControlTest,
    ::testing::Values(NoControlCase{"ControlCleared", {"clear control"}},
                      NoControlCase{"ControlKeysymsGone", {"keycode 37 = NoSymbol", "keycode 105 = NoSymbol"}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quillant::testing
