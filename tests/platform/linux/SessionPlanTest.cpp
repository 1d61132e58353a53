// Which way each concern is served, for the sessions users have.
#include <gtest/gtest.h>

#include "platform/linux/SessionPlan.h"
#include "testsupport/TempDir.h"

namespace quillant::linux_platform {
namespace {

using Hotkey = SessionPlan::Hotkey;
using Keys = SessionPlan::Keystrokes;
using Clip = SessionPlan::Clipboard;
using Focus = SessionPlan::Focus;

struct Case {
    const char* name;
    SessionFacts facts;
    Hotkey hotkey;
    Keys keys;
    Clip clipboard;
    SessionPlan::Focus focus;
};

class SessionPlanTest : public ::testing::TestWithParam<Case> {};

TEST_P(SessionPlanTest, EachConcernTakesTheCompositorsProtocolElseX11) {
    const SessionPlan plan = planSession(GetParam().facts);
    EXPECT_EQ(plan.hotkey, GetParam().hotkey);
    EXPECT_EQ(plan.keystrokes, GetParam().keys);
    EXPECT_EQ(plan.clipboard, GetParam().clipboard);
    EXPECT_EQ(plan.focus, GetParam().focus);
    EXPECT_EQ(plan.usable(), GetParam().keys != Keys::none && GetParam().clipboard != Clip::none);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SessionPlanTest,
    ::testing::Values(
        Case{"x11", {true, true, false, false, "", false}, Hotkey::x11Grab, Keys::xtest, Clip::x11, Focus::x11},
        Case{"x11_without_xtest", {true, false, false, false, "", false}, Hotkey::x11Grab, Keys::none, Clip::x11,
             Focus::unknown},
        // sway without XWayland: everything through the compositor, the hotkey from its binding.
        Case{"sway", {false, false, true, true, "zwlr_data_control_manager_v1", true}, Hotkey::triggerOnly,
             Keys::virtualKeyboard, Clip::dataControl, Focus::unknown},
        // sway and its IPC: the focused window is known after all.
        Case{"sway_ipc", {false, false, true, true, "zwlr_data_control_manager_v1", true, true}, Hotkey::triggerOnly,
             Keys::virtualKeyboard, Clip::dataControl, Focus::sway},
        // sway with XWayland: the compositor's protocols still win; the grab covers X11 windows.
        Case{"sway_xwayland", {true, true, true, true, "ext_data_control_manager_v1", true}, Hotkey::x11Grab,
             Keys::virtualKeyboard, Clip::dataControl, Focus::unknown},
        // KWin: data-control but no virtual keyboard for ordinary clients.
        Case{"kwin_xwayland", {true, true, true, true, "ext_data_control_manager_v1", false}, Hotkey::x11Grab,
             Keys::xtest, Clip::dataControl, Focus::x11},
        // GNOME: neither; everything through XWayland.
        Case{"gnome_xwayland", {true, true, true, true, "", false}, Hotkey::x11Grab, Keys::xtest, Clip::x11, Focus::x11},
        Case{"gnome_without_xwayland", {false, false, true, true, "", false}, Hotkey::triggerOnly, Keys::none,
             Clip::none, Focus::unknown},
        // A compositor without a seat cannot be typed into.
        Case{"no_seat", {false, false, true, false, "zwlr_data_control_manager_v1", true}, Hotkey::triggerOnly,
             Keys::none, Clip::none, Focus::unknown},
        Case{"nothing", {}, Hotkey::triggerOnly, Keys::none, Clip::none, Focus::unknown},
        // GNOME 48 and KDE: the desktop portal before XWayland; the virtual keyboard still goes first.
        Case{"gnome_portal", {true, true, true, true, "", false, false, true, true}, Hotkey::portalShortcuts,
             Keys::portalKeyboard, Clip::x11, Focus::x11},
        Case{"gnome_portal_without_xwayland", {false, false, true, true, "", false, false, true, true},
             Hotkey::portalShortcuts, Keys::portalKeyboard, Clip::none, Focus::unknown},
        Case{"kwin_portal", {true, true, true, true, "ext_data_control_manager_v1", false, false, true, true},
             Hotkey::portalShortcuts, Keys::portalKeyboard, Clip::dataControl, Focus::x11},
        Case{"hyprland_portal_and_virtual_keyboard",
             {false, false, true, true, "zwlr_data_control_manager_v1", true, false, true, true}, Hotkey::portalShortcuts,
             Keys::virtualKeyboard, Clip::dataControl, Focus::unknown},
        Case{"a_portal_on_x11_is_not_used", {true, true, false, false, "", false, false, true, true}, Hotkey::x11Grab,
             Keys::xtest, Clip::x11, Focus::x11}),
    [](const auto& info) { return std::string(info.param.name); });

// What the user is told to do, which must be exactly right to be any use.
TEST(SessionPlanText, SaysWhereToBindTheTriggerAndWhetherTheDesktopAsksAgain) {
    SessionFacts gnome{true, true, true, true, "", false, false, false, true, 1, "ubuntu:GNOME", "quillant trigger"};
    const SessionPlan plan = planSession(gnome);
    EXPECT_EQ(describeHotkey(plan, gnome),
              "Alt+Shift+G, grabbed on XWayland: it fires only while an X11 window has the focus; bind quillant trigger "
              "to Alt+Shift+G in Settings → Keyboard → View and Customize Shortcuts → Custom Shortcuts → +, with the "
              "command quillant trigger for the others");
    EXPECT_NE(describeKeystrokes(plan, gnome).find("asks at each start"), std::string::npos);
    gnome.portalKeyboardVersion = 2;
    EXPECT_NE(describeKeystrokes(plan, gnome).find("asks once"), std::string::npos);
}

TEST(SessionPlanText, TheTriggerCommandIsTheFullPathUnlessPathFindsThisProgram) {
    quillant::testing::TempDir dir;
    const auto self = dir / "my bin" / "quillant-1.0";
    std::filesystem::create_directories(self.parent_path());
    quillant::testing::writeFile(self, "");
    std::filesystem::create_directories(dir / "bin");
    std::filesystem::create_symlink(self, dir / "bin" / "quillant");
    EXPECT_EQ(triggerCommandFor(self, "/usr/bin:" + (dir / "bin").string()), "quillant trigger");
    EXPECT_EQ(triggerCommandFor(self, "/usr/bin"), "'" + self.string() + "' trigger");
}

}  // namespace
}  // namespace quillant::linux_platform
