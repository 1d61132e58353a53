#include <gtest/gtest.h>

#include <memory>

#include "hotkey/HotKeysController.h"
#include "hotkey/HotkeyManager.h"
#include "testsupport/FakeHotKeyService.h"

using namespace quillant::hotkey;
using quillant::testing::FakeHotKeyService;

namespace {

constexpr KeyCombo kOptShiftG(5, 2560);
constexpr KeyCombo kCtrlOptCmdK(40, 6400);

class HotkeyManagerTest : public ::testing::Test {
protected:
    HotkeyManagerTest() {
        // Like the real system: a combination that is already held is refused.
        service.refuse = [this](const FakeHotKeyService::Registration& r) {
            return service.holds(r.keyCode, r.modifiers);
        };
    }

    FakeHotKeyService service;
    HotKeysController controller{service};
    int presses = 0;
    std::unique_ptr<HotkeyManager> manager = std::make_unique<HotkeyManager>(controller, [this] { ++presses; });
};

}  // namespace

TEST_F(HotkeyManagerTest, EachPressRunsTheHandlerAndReleasesDoNothing) {
    EXPECT_EQ(manager->armedCombo(), std::nullopt);
    EXPECT_TRUE(service.registerCalls.empty());
    manager->registerCombo(kOptShiftG);
    EXPECT_EQ(manager->armedCombo(), kOptShiftG);
    EXPECT_EQ(service.press(5, 2560), noErr);
    EXPECT_EQ(service.press(5, 2560), noErr);
    EXPECT_EQ(service.press(5, 2560, kEventHotKeyReleased), eventNotHandledErr);
    EXPECT_EQ(presses, 2);
}

TEST_F(HotkeyManagerTest, ReArmingTheSameCombinationEndsWithOneLiveRegistration) {
    manager->registerCombo(kOptShiftG);
    manager->registerCombo(kOptShiftG);
    ASSERT_EQ(service.registerCalls.size(), 2u);
    EXPECT_EQ(service.active.size(), 1u);  // the second was not refused: the first was released before it
    EXPECT_EQ(controller.hotKeys().size(), 1u);
    ASSERT_EQ(controller.hotKeys().count(2), 1u);
    EXPECT_TRUE(controller.hotKeys().at(2).carbonEventHotKey.has_value());
    EXPECT_EQ(service.press(5, 2560), noErr);
    EXPECT_EQ(presses, 1);
}

TEST_F(HotkeyManagerTest, UnregisterDisarmsUntilTheNextRegister) {
    manager->registerCombo(kOptShiftG);
    manager->unregister();
    EXPECT_EQ(manager->armedCombo(), std::nullopt);
    EXPECT_TRUE(service.active.empty());
    EXPECT_TRUE(controller.hotKeys().empty());
    EXPECT_EQ(service.deliverPressed({HotKeysController::eventHotKeySignature, 1}), eventNotHandledErr);
    manager->unregister();  // harmless when nothing is armed

    manager->registerCombo(kOptShiftG);
    EXPECT_EQ(service.press(5, 2560), noErr);
    EXPECT_EQ(presses, 1);
}

TEST_F(HotkeyManagerTest, AReleasedManagerLeavesNoRegistration) {
    manager->registerCombo(kOptShiftG);
    manager.reset();
    EXPECT_TRUE(controller.hotKeys().empty());
    EXPECT_TRUE(service.active.empty());
    EXPECT_EQ(service.deliverPressed({HotKeysController::eventHotKeySignature, 1}), eventNotHandledErr);
    EXPECT_EQ(presses, 0);
}

TEST_F(HotkeyManagerTest, TheHandlerMayReleaseTheManager) {
    manager = std::make_unique<HotkeyManager>(controller, [this] {
        ++presses;
        manager.reset();
    });
    manager->registerCombo(kOptShiftG);
    EXPECT_EQ(service.press(5, 2560), noErr);
    EXPECT_EQ(presses, 1);
    EXPECT_TRUE(service.active.empty());
    EXPECT_TRUE(controller.hotKeys().empty());
}
