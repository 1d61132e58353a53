#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "X11DesktopFixture.h"
#include "hotkey/ModifierFlags.h"
#include "platform/linux/x11/X11HotKeyService.h"

namespace quillant::testing {
namespace {

using hotkey::EventHotKeyID;
using hotkey::HotKeyEvent;
using linux_platform::X11HotKeyService;

constexpr std::uint32_t kKeyG = 5;
constexpr std::uint32_t kAltShift = hotkey::carbon::optionKey | hotkey::carbon::shiftKey;
constexpr EventHotKeyID kID{0x51746167, 7};

class HotKeyServiceTest : public X11DesktopTest {
protected:
    std::unique_ptr<X11HotKeyService> service = std::make_unique<X11HotKeyService>(logger, xvfb.display());
    std::vector<HotKeyEvent> events;

    void SetUp() override {
        service->installEventHandler([this](const HotKeyEvent& event) {
            events.push_back(event);
            return hotkey::noErr;
        });
    }
    bool waitForEvents(std::size_t count) {
        return pumpUntil(service->fd(), [this] { service->processPendingEvents(); },
                         [&] { return events.size() >= count; });
    }
    // Lets stray events arrive, for checks that nothing more came.
    void settle() {
        pumpUntil(service->fd(), [this] { service->processPendingEvents(); }, [] { return false; }, 300ms);
    }
};

class HotKeyLockStateTest : public HotKeyServiceTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(HotKeyLockStateTest, PressAndReleaseFireWhateverTheLockState) {
    const auto registration = service->registerEventHotKey(kKeyG, kAltShift, kID);
    ASSERT_EQ(registration.status, hotkey::noErr);
    ASSERT_TRUE(registration.handle);
    if (*GetParam()) {
        ASSERT_EQ(xdotool({"key", GetParam()}), 0);
    }

    ASSERT_EQ(xdotool({"key", "alt+shift+g"}), 0);
    ASSERT_TRUE(waitForEvents(2));
    settle();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, hotkey::kEventHotKeyPressed);
    EXPECT_EQ(events[1].kind, hotkey::kEventHotKeyReleased);
    for (const auto& event : events) {
        EXPECT_EQ(event.hotKeyID, kID);
        EXPECT_EQ(event.parameterStatus, hotkey::noErr);
    }
}

INSTANTIATE_TEST_SUITE_P(Locks, HotKeyLockStateTest, ::testing::Values("", "Num_Lock", "Caps_Lock"));

TEST_F(HotKeyServiceTest, OtherCombinationsDoNotFire) {
    ASSERT_EQ(service->registerEventHotKey(kKeyG, kAltShift, kID).status, hotkey::noErr);
    ASSERT_EQ(xdotool({"key", "alt+g", "ctrl+alt+shift+g", "g"}), 0);
    settle();
    EXPECT_TRUE(events.empty());
}

TEST_F(HotKeyServiceTest, AHeldKeyFiresOncePressedAndOnceReleased) {
    ASSERT_EQ(service->registerEventHotKey(kKeyG, kAltShift, kID).status, hotkey::noErr);
    // Longer than the server's auto-repeat delay.
    auto user = background("xdotool keydown alt+shift+g; sleep 1.2; xdotool keyup g shift alt");
    ASSERT_EQ(user.wait(10s), 0);
    ASSERT_TRUE(waitForEvents(2));
    settle();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, hotkey::kEventHotKeyPressed);
    EXPECT_EQ(events[1].kind, hotkey::kEventHotKeyReleased);
}

TEST_F(HotKeyServiceTest, AGrabHeldByAnotherClientIsRefusedUntilItIsGivenBack) {
    X11HotKeyService other(logger, xvfb.display());
    const auto first = other.registerEventHotKey(kKeyG, kAltShift, kID);
    ASSERT_EQ(first.status, hotkey::noErr);

    const auto refused = service->registerEventHotKey(kKeyG, kAltShift, kID);
    EXPECT_NE(refused.status, hotkey::noErr);
    EXPECT_FALSE(refused.handle);

    other.unregisterEventHotKey(*first.handle);
    const auto second = service->registerEventHotKey(kKeyG, kAltShift, kID);
    EXPECT_EQ(second.status, hotkey::noErr);
    ASSERT_EQ(xdotool({"key", "alt+shift+g"}), 0);
    EXPECT_TRUE(waitForEvents(1));
}

TEST_F(HotKeyServiceTest, ARefusedRegistrationKeepsNoneOfItsLockVariants) {
    constexpr std::uint16_t altShift = XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT;
    // The other client holds only the NumLock variant: ours fails part-way.
    RawGrabber other(xvfb);
    ASSERT_TRUE(other.grab(altShift | XCB_MOD_MASK_2));
    const auto refused = service->registerEventHotKey(kKeyG, kAltShift, kID);
    ASSERT_EQ(refused.status, hotkey::eventHotKeyExistsErr);
    EXPECT_FALSE(refused.handle);

    RawGrabber third(xvfb);
    EXPECT_TRUE(third.grab(altShift));
    EXPECT_TRUE(third.grab(altShift | XCB_MOD_MASK_LOCK));
}

TEST_F(HotKeyServiceTest, UnregisteredCombinationsStopFiringAndRegistrationChecksItsInput) {
    const auto registration = service->registerEventHotKey(kKeyG, kAltShift, kID);
    ASSERT_EQ(registration.status, hotkey::noErr);
    EXPECT_EQ(service->registerEventHotKey(kKeyG, kAltShift, {kID.signature, 8}).status,
              hotkey::eventHotKeyExistsErr);
    EXPECT_EQ(service->registerEventHotKey(0xEE, kAltShift, kID).status, X11HotKeyService::kUnknownKeyErr);

    service->unregisterEventHotKey(*registration.handle);
    ASSERT_EQ(xdotool({"key", "alt+shift+g"}), 0);
    settle();
    EXPECT_TRUE(events.empty());
}

}  // namespace
}  // namespace quillant::testing
