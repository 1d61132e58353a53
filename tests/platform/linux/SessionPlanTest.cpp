// Which way each concern is served, for the sessions users have.
#include <gtest/gtest.h>

#include "platform/linux/SessionPlan.h"

namespace quillant::linux_platform {
namespace {

using Hotkey = SessionPlan::Hotkey;
using Keys = SessionPlan::Keystrokes;
using Clip = SessionPlan::Clipboard;

struct Case {
    const char* name;
    SessionFacts facts;
    Hotkey hotkey;
    Keys keys;
    Clip clipboard;
    bool focusKnown;
};

class SessionPlanTest : public ::testing::TestWithParam<Case> {};

TEST_P(SessionPlanTest, EachConcernTakesTheCompositorsProtocolElseX11) {
    const SessionPlan plan = planSession(GetParam().facts);
    EXPECT_EQ(plan.hotkey, GetParam().hotkey);
    EXPECT_EQ(plan.keystrokes, GetParam().keys);
    EXPECT_EQ(plan.clipboard, GetParam().clipboard);
    EXPECT_EQ(plan.focusKnown, GetParam().focusKnown);
    EXPECT_EQ(plan.usable(), GetParam().keys != Keys::none && GetParam().clipboard != Clip::none);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SessionPlanTest,
    ::testing::Values(
        Case{"x11", {true, true, false, false, "", false}, Hotkey::x11Grab, Keys::xtest, Clip::x11, true},
        Case{"x11_without_xtest", {true, false, false, false, "", false}, Hotkey::x11Grab, Keys::none, Clip::x11,
             false},
        // sway without XWayland: everything through the compositor, the hotkey from its binding.
        Case{"sway", {false, false, true, true, "zwlr_data_control_manager_v1", true}, Hotkey::triggerOnly,
             Keys::virtualKeyboard, Clip::dataControl, false},
        // sway with XWayland: the compositor's protocols still win; the grab covers X11 windows.
        Case{"sway_xwayland", {true, true, true, true, "ext_data_control_manager_v1", true}, Hotkey::x11Grab,
             Keys::virtualKeyboard, Clip::dataControl, false},
        // KWin: data-control but no virtual keyboard for ordinary clients.
        Case{"kwin_xwayland", {true, true, true, true, "ext_data_control_manager_v1", false}, Hotkey::x11Grab,
             Keys::xtest, Clip::dataControl, true},
        // GNOME: neither; everything through XWayland.
        Case{"gnome_xwayland", {true, true, true, true, "", false}, Hotkey::x11Grab, Keys::xtest, Clip::x11, true},
        Case{"gnome_without_xwayland", {false, false, true, true, "", false}, Hotkey::triggerOnly, Keys::none,
             Clip::none, false},
        // A compositor without a seat cannot be typed into.
        Case{"no_seat", {false, false, true, false, "zwlr_data_control_manager_v1", true}, Hotkey::triggerOnly,
             Keys::none, Clip::none, false},
        Case{"nothing", {}, Hotkey::triggerOnly, Keys::none, Clip::none, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillant::linux_platform
