// Copy and paste chords through our virtual keyboard, read by a Qt window
// running as a native Wayland client the way Qt decides its own shortcuts,
// under the layouts users have.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "clipboard/KeyEventSynth.h"
#include "platform/linux/wayland/WaylandKeyEventPoster.h"
#include "testsupport/RecordingLogger.h"
#include "testsupport/SwayTestHarness.h"

namespace quillant::testing {
namespace {

using clipboard::KeyEvent;
using linux_platform::WaylandKeyEventPoster;
using namespace std::chrono_literals;

struct LayoutCase {
    const char* name;
    const char* layout;
    const char* variant;
};

class WaylandKeystrokeTest : public ::testing::TestWithParam<LayoutCase> {
protected:
    HeadlessSway sway;
    RecordingLogger log;
    std::optional<WaylandKeyEventPoster> poster;
    std::optional<Process> window;

    void SetUp() override {
        ASSERT_TRUE(sway.ready()) << sway.failure();
        // The keymap the compositor would build for a keyboard without a
        // configuration of its own: the XKB defaults.
        ::setenv("XKB_DEFAULT_LAYOUT", GetParam().layout, 1);
        ::setenv("XKB_DEFAULT_VARIANT", GetParam().variant, 1);
        // Our keyboard first, as quillant runs before the applications: a
        // seat without devices has no keyboard until then, and an application
        // binds one only when the seat announces it.
        poster.emplace(log, display());
        window = sway.startClient({QUILLANT_QT_SHORTCUT_LOG}, {"QT_QPA_PLATFORM=wayland"});
        ASSERT_EQ(window->readLine(60s), "ready");
    }
    void TearDown() override {
        ::unsetenv("XKB_DEFAULT_LAYOUT");
        ::unsetenv("XKB_DEFAULT_VARIANT");
    }
    std::string display() const { return (sway.runtimeDir() / sway.waylandDisplay()).string(); }
};

TEST_P(WaylandKeystrokeTest, TheApplicationReadsCopyAndPasteAndNothingStaysHeld) {
    clipboard::KeyEventSynth synth(*poster);
    EXPECT_FALSE(poster->keysHeld());

    ASSERT_TRUE(synth.sendCommand(clipboard::kKeyCodeC));
    EXPECT_EQ(window->readLine(10s), "copy");
    ASSERT_TRUE(synth.sendCommand(clipboard::kKeyCodeV));
    EXPECT_EQ(window->readLine(10s), "paste");

    // A plain key after the chords types its letter: Control was let go.
    ASSERT_TRUE(poster->post(KeyEvent{clipboard::kKeyCodeC, true, 0, true}));
    ASSERT_TRUE(poster->post(KeyEvent{clipboard::kKeyCodeC, false, 0, true}));
    EXPECT_EQ(window->readLine(10s), "key c");
}

INSTANTIATE_TEST_SUITE_P(Layouts, WaylandKeystrokeTest,
                         ::testing::Values(LayoutCase{"us", "us", ""}, LayoutCase{"ru_us", "ru,us", ""},
                                           LayoutCase{"dvorak", "us", "dvorak"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillant::testing
