#include <gtest/gtest.h>

#include "X11DesktopFixture.h"
#include "clipboard/KeyEventSynth.h"
#include "hotkey/ModifierFlags.h"
#include "platform/linux/RunLoop.h"
#include "platform/linux/x11/X11HotKeyService.h"
#include "platform/linux/x11/XTestKeyEventPoster.h"

namespace quillant::testing {
namespace {

using clipboard::kKeyCodeC;
using linux_platform::RunLoop;
using linux_platform::X11HotKeyService;
using linux_platform::XTestKeyEventPoster;

// X's ControlMask: the only state the copy key may carry.
constexpr const char* kControlOnly = " 4";

class KeystrokeTest : public X11DesktopTest {
protected:
    XTestKeyEventPoster poster{logger, xvfb.display()};
    clipboard::KeyEventSynth synth{poster};
};

TEST_F(KeystrokeTest, TheCopyChordArrivesAsControlC) {
    KeyLog log(xvfb);
    ASSERT_TRUE(poster.createEventSource());
    synth.sendCommand(kKeyCodeC);
    EXPECT_EQ(log.next("press"), "press Control_L 0");
    EXPECT_EQ(log.next("press"), std::string("press c") + kControlOnly);
    EXPECT_EQ(log.next("release"), std::string("release c") + kControlOnly);
    EXPECT_EQ(log.next("release"), std::string("release Control_L") + kControlOnly);
    EXPECT_FALSE(poster.keysHeld());
}

TEST_F(KeystrokeTest, TheTerminalChordArrivesAsControlShiftC) {
    KeyLog log(xvfb);
    ASSERT_TRUE(poster.createEventSource());
    synth.sendCommand(kKeyCodeC, /*withShift=*/true);
    EXPECT_EQ(log.next("press"), "press Control_L 0");
    EXPECT_EQ(log.next("press"), "press Shift_L 4");
    EXPECT_EQ(log.next("press"), "press c 5");  // ControlMask | ShiftMask
    EXPECT_EQ(log.next("release"), "release c 5");
    EXPECT_EQ(log.next("release"), "release Shift_L 5");
    EXPECT_EQ(log.next("release"), "release Control_L 4");
    EXPECT_FALSE(poster.keysHeld());
}

TEST_F(KeystrokeTest, HeldModifiersAreReleasedNotCarriedAndNeverLeftStuck) {
    KeyLog log(xvfb);
    ASSERT_EQ(xdotool({"keydown", "alt", "shift"}), 0);
    ASSERT_TRUE(log.next("press Shift_L"));
    EXPECT_TRUE(poster.keysHeld());

    synth.sendCommand(kKeyCodeC);
    EXPECT_EQ(log.next("press c"), std::string("press c") + kControlOnly);
    EXPECT_FALSE(poster.keysHeld());

    // The user lets go afterwards; nothing stays down and a plain key is plain.
    ASSERT_EQ(xdotool({"keyup", "alt", "shift"}), 0);
    ASSERT_EQ(xdotool({"key", "a"}), 0);
    EXPECT_EQ(log.next("press a"), "press a 0");
    EXPECT_FALSE(poster.keysHeld());
    EXPECT_TRUE(logger.contains("Released 2 held key(s) before the chord"));
}

// The real sequence: our grab fires on the hotkey's key-down, the copy waits
// (bounded) for the keys to come up, then the chord must reach the focused
// window, not our grab.
class HotkeyThenCopyTest : public KeystrokeTest {
protected:
    X11HotKeyService service{logger, xvfb.display()};
    RunLoop loop;
    bool pressed = false;

    void SetUp() override {
        poster.setGrabBreaker([this] { service.endActiveGrab(); });
        service.installEventHandler([this](const hotkey::HotKeyEvent& event) {
            if (event.kind == hotkey::kEventHotKeyPressed) pressed = true;
            return hotkey::noErr;
        });
        const auto registration = service.registerEventHotKey(
            5, hotkey::carbon::optionKey | hotkey::carbon::shiftKey, {0x51746167, 1});
        ASSERT_EQ(registration.status, hotkey::noErr);
        loop.watchReadable(service.fd(), [this] { service.processPendingEvents(); });
    }

    // After the press: the bounded wait, then the copy chord; whether the wait saw the keys come up.
    bool copyAfterPress(Duration bound) {
        EXPECT_TRUE(loop.runUntil([this] { return pressed; }, 10s));
        std::optional<bool> released;
        spawn(loop, [&]() -> Task<void> {
            released = co_await synth.awaitKeysReleased(bound);
            synth.sendCommand(kKeyCodeC);
        });
        EXPECT_TRUE(loop.runUntil([&] { return released.has_value(); }, 10s));
        return released.value_or(false);
    }
};

TEST_F(HotkeyThenCopyTest, ACopyAfterAHotkeyHeldFor150msReachesTheFocusedWindow) {
    KeyLog log(xvfb);
    auto user = background("xdotool keydown alt+shift+g; sleep 0.15; xdotool keyup g shift alt");
    EXPECT_TRUE(copyAfterPress(2s));
    EXPECT_EQ(log.next("press c"), std::string("press c") + kControlOnly);
    EXPECT_EQ(user.wait(10s), 0);
    EXPECT_FALSE(poster.keysHeld());
}

TEST_F(HotkeyThenCopyTest, WhenTheUserKeepsHoldingTheCopyStillReachesTheFocusedWindow) {
    KeyLog log(xvfb);
    ASSERT_EQ(xdotool({"keydown", "alt+shift+g"}), 0);
    EXPECT_FALSE(copyAfterPress(200ms));
    EXPECT_EQ(log.next("press c"), std::string("press c") + kControlOnly);
    EXPECT_FALSE(poster.keysHeld());
    ASSERT_EQ(xdotool({"keyup", "g", "shift", "alt"}), 0);
    ASSERT_EQ(xdotool({"key", "a"}), 0);
    EXPECT_EQ(log.next("press a"), "press a 0");
}

}  // namespace
}  // namespace quillant::testing
