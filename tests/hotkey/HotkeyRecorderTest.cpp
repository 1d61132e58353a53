#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hotkey/HotkeyRecorder.h"
#include "runtime/VirtualExecutor.h"
#include "testsupport/FakeKeyDownMonitor.h"

using namespace quillant::hotkey;
using quillant::VirtualExecutor;
using quillant::testing::FakeKeyDownMonitor;

namespace {

const std::string kMessage = "Add ⌘, ⌥, or ⌃ — Shift alone isn't enough.";

constexpr ModifierFlags kShift = ModifierFlags::shift;
constexpr ModifierFlags kControl = ModifierFlags::control;
constexpr ModifierFlags kOption = ModifierFlags::option;
constexpr ModifierFlags kCommand = ModifierFlags::command;

struct Press {
    std::uint16_t keyCode;
    ModifierFlags flags;
};

class HotkeyRecorderTest : public ::testing::Test {
protected:
    void startRecording() {
        recorder->start([this](KeyCombo combo) { delivered.push_back(combo); });
    }

    VirtualExecutor executor;
    FakeKeyDownMonitor monitor;
    std::unique_ptr<HotkeyRecorder> recorder = std::make_unique<HotkeyRecorder>(monitor, executor);
    std::vector<KeyCombo> delivered;
};

}  // namespace

TEST_F(HotkeyRecorderTest, JudgesEachPress) {
    struct Case {
        std::string name;
        std::vector<Press> presses;
        std::vector<KeyCombo> delivered;
        bool stillRecording;
        std::optional<std::string> lastError;
    };
    const std::vector<Case> cases{
        {"option shift G", {{5, kOption | kShift}}, {KeyCombo(5, 2560)}, false, std::nullopt},
        {"shift K then command K", {{40, kShift}, {40, kCommand}}, {KeyCombo(40, 256)}, false, kMessage},
        {"K alone", {{40, {}}}, {}, true, kMessage},
        {"shift K", {{40, kShift}}, {}, true, kMessage},
        {"device-dependent bits only", {{40, ModifierFlags(0x0000FFFF)}}, {}, true, kMessage},
        {"escape", {{53, {}}}, {}, false, std::nullopt},
        {"escape keeps the error", {{40, {}}, {53, {}}}, {}, false, kMessage},
        {"command shift escape is escape", {{53, kCommand | kShift}}, {}, false, std::nullopt},
        {"F5 with the function flag", {{96, ModifierFlags::function}}, {KeyCombo(96, 0)}, false, std::nullopt},
        {"letter with caps lock", {{0, ModifierFlags::capsLock}}, {KeyCombo(0, 0)}, false, std::nullopt},
        {"numeric pad flag", {{83, ModifierFlags::numericPad}}, {KeyCombo(83, 0)}, false, std::nullopt},
        {"all four modifiers K", {{40, kControl | kOption | kCommand | kShift}}, {KeyCombo(40, 6912)}, false, std::nullopt},
        {"device bits are dropped", {{40, kCommand | ModifierFlags(0x0000010A)}}, {KeyCombo(40, 256)}, false, std::nullopt},
        {"two quick presses", {{5, kOption | kShift}, {40, kCommand}}, {KeyCombo(5, 2560)}, false, std::nullopt},
        {"escape then a press", {{53, {}}, {40, kCommand}}, {}, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualExecutor exec;
        FakeKeyDownMonitor mon;
        HotkeyRecorder rec(mon, exec);
        std::vector<KeyCombo> got;
        rec.start([&](KeyCombo combo) { got.push_back(combo); });
        for (const auto& press : c.presses) EXPECT_FALSE(mon.press(press.keyCode, press.flags));  // all swallowed
        EXPECT_TRUE(got.empty());  // nothing happens inside the handler
        EXPECT_TRUE(rec.isRecording.get());
        exec.runUntilIdle();
        EXPECT_EQ(got, c.delivered);
        EXPECT_EQ(rec.isRecording.get(), c.stillRecording);
        EXPECT_EQ(rec.lastError.get(), c.lastError);
        EXPECT_EQ(mon.installedCount(), c.stillRecording ? 1u : 0u);
    }
}

TEST_F(HotkeyRecorderTest, StartWhileRecordingAndStopWhileIdleChangeNothing) {
    int notifications = 0;
    auto subscription = recorder->onWillChange([&] { ++notifications; });
    recorder->stop();
    EXPECT_EQ(notifications, 0);
    EXPECT_TRUE(monitor.installs.empty());

    startRecording();
    const int afterStart = notifications;
    bool secondCalled = false;
    recorder->start([&](KeyCombo) { secondCalled = true; });
    EXPECT_EQ(notifications, afterStart);
    EXPECT_EQ(monitor.installs.size(), 1u);

    monitor.press(40, {});
    monitor.press(5, kOption | kShift);
    executor.runUntilIdle();
    EXPECT_FALSE(secondCalled);
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_EQ(recorder->lastError.get(), kMessage);  // outlives the capture…
    startRecording();
    EXPECT_EQ(recorder->lastError.get(), std::nullopt);  // …until the next one starts
}

TEST_F(HotkeyRecorderTest, ADecisionNeverActsOnALaterCapture) {
    startRecording();
    monitor.press(40, kCommand);
    monitor.press(41, {});
    recorder->stop();
    std::vector<KeyCombo> later;
    recorder->start([&](KeyCombo combo) { later.push_back(combo); });
    executor.runUntilIdle();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(later.empty());
    EXPECT_TRUE(recorder->isRecording.get());
    EXPECT_EQ(recorder->lastError.get(), std::nullopt);
}

TEST_F(HotkeyRecorderTest, TheCallbackMayStopAndStartAgain) {
    std::vector<KeyCombo> second;
    recorder->start([&](KeyCombo combo) {
        delivered.push_back(combo);
        recorder->stop();
        recorder->start([&](KeyCombo next) { second.push_back(next); });
    });
    monitor.press(5, kOption | kShift);
    executor.runUntilIdle();
    EXPECT_TRUE(recorder->isRecording.get());  // the new capture is left running
    monitor.press(40, kCommand);
    executor.runUntilIdle();
    EXPECT_EQ(delivered, std::vector<KeyCombo>{KeyCombo(5, 2560)});
    EXPECT_EQ(second, std::vector<KeyCombo>{KeyCombo(40, 256)});
}

TEST_F(HotkeyRecorderTest, ARecorderReleasedWhileRecordingLeavesNothingBehind) {
    startRecording();
    monitor.press(5, kOption | kShift);  // decision pending on the executor
    recorder.reset();
    EXPECT_EQ(monitor.installedCount(), 0u);
    executor.runUntilIdle();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(monitor.press(40, kCommand));  // nobody swallows keys any more
}

TEST_F(HotkeyRecorderTest, TheCallbackMayReleaseTheRecorder) {
    recorder->start([&](KeyCombo combo) {
        delivered.push_back(combo);
        recorder.reset();
    });
    monitor.press(5, kOption | kShift);
    executor.runUntilIdle();
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_EQ(monitor.installedCount(), 0u);
}
