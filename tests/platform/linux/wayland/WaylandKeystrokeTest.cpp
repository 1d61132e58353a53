// Copy and paste chords through our virtual keyboard, read by a Qt window
// running as a native Wayland client the way Qt decides its own shortcuts,
// under the layouts users have.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "clipboard/KeyEventSynth.h"
#include "platform/linux/wayland/SeatKeymap.h"
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
    std::optional<HeadlessSway> sway;
    RecordingLogger log;
    std::optional<WaylandKeyEventPoster> poster;
    std::optional<Process> window;

    void SetUp() override {
        // The compositor's keymap, as a user configures sway's keyboards.
        std::string config = "input type:keyboard {\n  xkb_layout " + std::string(GetParam().layout) + "\n";
        if (*GetParam().variant) config += "  xkb_variant " + std::string(GetParam().variant) + "\n";
        config += "}\n";
        sway.emplace(config);
        ASSERT_TRUE(sway->ready()) << sway->failure();
        // Our keyboard first, as quillant runs before the applications: a
        // seat without devices has no keyboard until then, and an application
        // binds one only when the seat announces it.
        poster.emplace(log, display());
        window = sway->startClient({QUILLANT_QT_SHORTCUT_LOG}, {"QT_QPA_PLATFORM=wayland"});
        ASSERT_EQ(window->readLine(60s), "ready");
    }
    std::string display() const { return (sway->runtimeDir() / sway->waylandDisplay()).string(); }
};

TEST_P(WaylandKeystrokeTest, TheApplicationReadsCopyAndPasteAndNothingStaysHeld) {
    clipboard::KeyEventSynth synth(*poster);
    EXPECT_FALSE(poster->keysHeld());
    EXPECT_TRUE(poster->usingSeatKeymap()) << "the compositor's keymap, not a guess";

    ASSERT_TRUE(synth.sendCommand(clipboard::kKeyCodeC));
    EXPECT_EQ(window->readLine(10s), "copy");
    ASSERT_TRUE(synth.sendCommand(clipboard::kKeyCodeV));
    EXPECT_EQ(window->readLine(10s), "paste");

    // A plain key after the chords types its letter: Control was let go.
    ASSERT_TRUE(poster->post(KeyEvent{clipboard::kKeyCodeC, true, 0, true}));
    ASSERT_TRUE(poster->post(KeyEvent{clipboard::kKeyCodeC, false, 0, true}));
    EXPECT_EQ(window->readLine(10s), "key c");
}

// The seat's keymap as another client reads it (what the portal's keyboard
// is given): once our keyboard has been used, the one we uploaded.
TEST_P(WaylandKeystrokeTest, TheSeatsKeymapIsReadFromTheCompositor) {
    clipboard::KeyEventSynth synth(*poster);
    ASSERT_TRUE(synth.sendCommand(clipboard::kKeyCodeC));
    EXPECT_EQ(window->readLine(10s), "copy");
    const auto keymap = linux_platform::readSeatKeymap(display());
    ASSERT_TRUE(keymap);
    EXPECT_NE(keymap->find("xkb_symbols"), std::string::npos);
    // The layouts themselves came through: a Cyrillic group where one was asked for.
    const bool cyrillic = std::string(GetParam().layout).find("ru") != std::string::npos;
    EXPECT_EQ(keymap->find("Cyrillic_") != std::string::npos, cyrillic) << keymap->substr(keymap->find("xkb_symbols"), 3000);
    EXPECT_EQ(linux_platform::readSeatKeymap((sway->runtimeDir() / "no-such-display").string()), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Layouts, WaylandKeystrokeTest,
                         ::testing::Values(LayoutCase{"us", "us", ""}, LayoutCase{"ru_us", "ru,us", ""},
                                           LayoutCase{"dvorak", "us", "dvorak"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillant::testing
