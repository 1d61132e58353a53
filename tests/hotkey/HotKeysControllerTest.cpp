#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hotkey/HotKey.h"
#include "hotkey/HotKeysController.h"
#include "testsupport/FakeHotKeyService.h"

using namespace quillant::hotkey;
using quillant::testing::FakeHotKeyService;

namespace {

constexpr std::uint32_t kSignature = 0x51746167;  // "Qtag"
constexpr KeyCombo kOptShiftG(5, 2560);
constexpr KeyCombo kCmdK(40, 256);

struct Counter {
    int calls = 0;
    HotKey::Handler handler() {
        return [this] { ++calls; };
    }
};

class HotKeysControllerTest : public ::testing::Test {
protected:
    std::optional<std::int32_t> pressed(std::uint32_t id) { return service.deliverPressed({kSignature, id}); }

    FakeHotKeyService service;
    HotKeysController controller{service};
};

}  // namespace

TEST_F(HotKeysControllerTest, RegistersUnderTheSignatureAndInstallsTheCallbackOnce) {
    EXPECT_FALSE(controller.isEventHandlerInstalled());
    auto first = HotKey::create(controller, Key(KeyCase::g), ModifierFlags::option | ModifierFlags::shift);
    auto second = HotKey::create(controller, 40, 256);

    ASSERT_EQ(service.registerCalls.size(), 2u);
    EXPECT_EQ(service.registerCalls[0].keyCode, 5u);
    EXPECT_EQ(service.registerCalls[0].modifiers, 2560u);
    EXPECT_EQ(service.registerCalls[0].hotKeyID, (EventHotKeyID{kSignature, 1}));
    EXPECT_EQ(service.registerCalls[1].hotKeyID, (EventHotKeyID{kSignature, 2}));
    EXPECT_EQ(first->keyCombo(), kOptShiftG);
    EXPECT_EQ(controller.hotKeysCount(), 2u);
    EXPECT_EQ(controller.hotKeys().size(), 2u);
    EXPECT_EQ(service.installCalls, 1);
    EXPECT_TRUE(controller.isEventHandlerInstalled());
}

TEST_F(HotKeysControllerTest, RegisteringAgainChangesNothing) {
    auto hotKey = HotKey::create(controller, kOptShiftG);
    controller.registerHotKey(*hotKey);
    controller.registerHotKey(*hotKey);
    EXPECT_EQ(controller.hotKeys().size(), 1u);
    EXPECT_EQ(service.registerCalls.size(), 1u);
    EXPECT_EQ(controller.hotKeysCount(), 1u);
    EXPECT_EQ(controller.hotKeyID(*hotKey), 1u);
}

TEST_F(HotKeysControllerTest, PauseGivesTheCombinationBackAndResumeTakesAFreshID) {
    auto hotKey = HotKey::create(controller, kOptShiftG);
    auto other = HotKey::create(controller, kCmdK);
    EXPECT_EQ(controller.hotKeyID(*hotKey), 1u);
    EXPECT_EQ(controller.hotKeyID(*other), 2u);

    hotKey->setPaused(true);
    EXPECT_TRUE(hotKey->isPaused());
    EXPECT_FALSE(service.holds(5, 2560));
    EXPECT_EQ(controller.hotKeyID(*hotKey), std::nullopt);
    hotKey->setPaused(true);  // already paused: nothing left to release
    EXPECT_EQ(service.unregisterCalls.size(), 1u);

    hotKey->setPaused(false);
    EXPECT_EQ(controller.hotKeyID(*hotKey), 3u);
    EXPECT_TRUE(service.holds(5, 2560));
    hotKey->setPaused(false);  // still registered: no new ID
    EXPECT_EQ(controller.hotKeyID(*hotKey), 3u);
    EXPECT_EQ(service.registerCalls.size(), 3u);

    // The ID given up by pausing is never handed out again, and events for it find nothing.
    auto third = HotKey::create(controller, 0, 256);
    EXPECT_EQ(controller.hotKeyID(*third), 4u);
    EXPECT_EQ(pressed(1), eventNotHandledErr);
}

TEST_F(HotKeysControllerTest, DispatchRunsOnlyTheHandlerTheEventSelects) {
    struct Case {
        std::string name;
        bool withDown, withUp, paused;
        HotKeyEvent event;  // hot-key ID 1 is the registered one
        std::int32_t result;
        int downCalls, upCalls;
    };
    const EventHotKeyID ours{kSignature, 1};
    const std::vector<Case> cases{
        {"pressed runs key-down", true, true, false, {kEventHotKeyPressed, noErr, ours}, noErr, 1, 0},
        {"released runs key-up only", true, true, false, {kEventHotKeyReleased, noErr, ours}, noErr, 0, 1},
        {"released without key-up", true, false, false, {kEventHotKeyReleased, noErr, ours}, eventNotHandledErr, 0, 0},
        {"pressed without key-down", false, true, false, {kEventHotKeyPressed, noErr, ours}, eventNotHandledErr, 0, 0},
        {"another kind", true, true, false, {7, noErr, ours}, eventNotHandledErr, 0, 0},
        {"another signature", true, true, false, {kEventHotKeyPressed, noErr, {0x41424344, 1}}, eventNotHandledErr, 0, 0},
        {"an ID without entry", true, true, false, {kEventHotKeyPressed, noErr, {kSignature, 2}}, eventNotHandledErr, 0, 0},
        {"unreadable ID", true, true, false, {kEventHotKeyPressed, -9870, ours}, -9870, 0, 0},
        {"paused", true, true, true, {kEventHotKeyPressed, noErr, ours}, eventNotHandledErr, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHotKeyService svc;
        HotKeysController ctl(svc);
        Counter down, up;
        auto hotKey = HotKey::create(ctl, kOptShiftG, c.withDown ? down.handler() : nullptr,
                                     c.withUp ? up.handler() : nullptr);
        if (c.paused) {
            hotKey->setPaused(true);
            ctl.registerHotKey(*hotKey);  // an entry that is there while the hotkey is paused
            ASSERT_EQ(ctl.hotKeyID(*hotKey), 2u);
        }
        const HotKeyEvent event =
            c.paused ? HotKeyEvent{c.event.kind, c.event.parameterStatus, {kSignature, 2}} : c.event;
        EXPECT_EQ(svc.deliver(event), c.result);
        EXPECT_EQ(down.calls, c.downCalls);
        EXPECT_EQ(up.calls, c.upCalls);
        EXPECT_EQ(ctl.hotKeys().size(), 1u);
    }
}

TEST_F(HotKeysControllerTest, ARefusedCombinationKeepsAnEntryThatNeverFires) {
    for (std::int32_t status : {eventHotKeyExistsErr, noErr /* answered without a handle */}) {
        SCOPED_TRACE(status);
        FakeHotKeyService svc;
        svc.refuse = [](const FakeHotKeyService::Registration& r) { return r.keyCode == 5; };
        svc.refusalStatus = status;
        HotKeysController ctl(svc);
        Counter down;
        auto refused = HotKey::create(ctl, kOptShiftG, down.handler());
        EXPECT_EQ(ctl.hotKeyID(*refused), 1u);
        EXPECT_FALSE(ctl.hotKeys().at(1).carbonEventHotKey.has_value());
        EXPECT_EQ(svc.installCalls, 0);  // nothing fires yet, so no callback

        auto accepted = HotKey::create(ctl, kCmdK);
        EXPECT_EQ(svc.installCalls, 1);
        EXPECT_EQ(svc.press(5, 2560), std::nullopt);  // the system never raises it

        refused.reset();
        EXPECT_TRUE(svc.unregisterCalls.empty());  // there was no handle to give back
        EXPECT_EQ(ctl.hotKeys().size(), 1u);
        EXPECT_EQ(down.calls, 0);
    }
}

TEST_F(HotKeysControllerTest, AFailedCallbackInstallIsRetriedOnTheNextRegistration) {
    service.failInstall = true;
    auto first = HotKey::create(controller, kOptShiftG);
    EXPECT_FALSE(controller.isEventHandlerInstalled());
    service.failInstall = false;
    Counter down;
    auto second = HotKey::create(controller, kCmdK, down.handler());
    EXPECT_TRUE(controller.isEventHandlerInstalled());
    EXPECT_EQ(service.installCalls, 2);
    EXPECT_EQ(service.press(40, 256), noErr);
    EXPECT_EQ(down.calls, 1);
}

TEST_F(HotKeysControllerTest, ReleasingTheLastOwnerUnregisters) {
    auto hotKey = HotKey::create(controller, kOptShiftG);
    auto copy = hotKey;
    hotKey.reset();
    EXPECT_TRUE(service.holds(5, 2560));
    copy.reset();
    EXPECT_FALSE(service.holds(5, 2560));
    EXPECT_TRUE(controller.hotKeys().empty());
    EXPECT_EQ(controller.hotKeysCount(), 1u);
    EXPECT_TRUE(controller.isEventHandlerInstalled());  // stays for the next hotkey
}

TEST_F(HotKeysControllerTest, AStaleEntryIsRemovedWhenItsEventArrives) {
    // An event dispatched while the system is still releasing the combination
    // finds an entry whose hotkey is already gone.
    Counter down;
    auto hotKey = HotKey::create(controller, kOptShiftG, down.handler());
    std::optional<std::int32_t> during;
    std::size_t entriesDuring = 99;
    service.onUnregister = [&](EventHotKeyRef) {
        ASSERT_EQ(controller.hotKeys().size(), 1u);
        during = pressed(1);
        entriesDuring = controller.hotKeys().size();
    };
    hotKey.reset();
    EXPECT_EQ(during, eventNotHandledErr);
    EXPECT_EQ(entriesDuring, 0u);
    EXPECT_EQ(down.calls, 0);
    EXPECT_TRUE(controller.hotKeys().empty());
}

TEST_F(HotKeysControllerTest, AHandlerMayReleaseItsOwnHotKey) {
    std::shared_ptr<HotKey> hotKey;
    int calls = 0;
    hotKey = HotKey::create(controller, kOptShiftG, [&] {
        ++calls;
        hotKey->setKeyDownHandler(nullptr);  // destroys the closure that is running
        hotKey.reset();
    });
    EXPECT_EQ(pressed(1), noErr);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(service.holds(5, 2560));
    EXPECT_TRUE(controller.hotKeys().empty());
    EXPECT_EQ(pressed(1), eventNotHandledErr);
}

TEST(HotKeysControllerIDs, NoIDIsHandedOutTwiceWhenTheCounterRunsOut) {
    FakeHotKeyService service;
    HotKeysController controller(service, 0xFFFFFFFEu);
    Counter down;
    auto last = HotKey::create(controller, kOptShiftG, down.handler());
    EXPECT_EQ(controller.hotKeyID(*last), 0xFFFFFFFFu);
    EXPECT_EQ(service.deliverPressed({kSignature, 0xFFFFFFFFu}), noErr);

    auto refused = HotKey::create(controller, kCmdK);
    EXPECT_EQ(controller.hotKeyID(*refused), std::nullopt);
    EXPECT_EQ(service.registerCalls.size(), 1u);

    last->setPaused(true);
    last->setPaused(false);
    EXPECT_EQ(controller.hotKeyID(*last), std::nullopt);
    EXPECT_EQ(controller.hotKeysCount(), 0xFFFFFFFFu);
    EXPECT_TRUE(controller.hotKeys().empty());
    EXPECT_TRUE(service.active.empty());
    EXPECT_EQ(down.calls, 1);
}

TEST(HotKeysControllerLifetime, HotKeysThatOutliveTheControllerStayInert) {
    FakeHotKeyService service;
    std::shared_ptr<HotKey> survivor;
    Counter down;
    {
        HotKeysController controller(service);
        survivor = HotKey::create(controller, kOptShiftG, down.handler());
        ASSERT_TRUE(service.holds(5, 2560));
    }
    EXPECT_TRUE(service.active.empty());  // the controller gave the combination back
    EXPECT_EQ(service.deliverPressed({kSignature, 1}), eventNotHandledErr);
    survivor->setPaused(false);
    survivor.reset();
    EXPECT_EQ(service.registerCalls.size(), 1u);
    EXPECT_EQ(service.unregisterCalls.size(), 1u);
    EXPECT_EQ(down.calls, 0);
}
