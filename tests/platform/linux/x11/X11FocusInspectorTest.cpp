#include <gtest/gtest.h>

#include "X11DesktopFixture.h"
#include "platform/linux/x11/X11FocusInspector.h"

namespace quillant::testing {
namespace {

using linux_platform::X11FocusInspector;

std::string hex(clipboard::WindowId w) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(w));
    return buf;
}

class FocusInspectorTest : public X11DesktopTest {
public:
    using X11DesktopTest::xdotool;
    std::string output(const std::vector<std::string>& argv) {
        auto p = Process::start(argv, xvfb.env(), true);
        auto out = p.readAll(10s);
        p.wait(10s);
        while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
        return out;
    }
    std::string focusedWindow() { return output({"xdotool", "getwindowfocus"}); }
    // The root window's id, in decimal as xdotool takes it.
    std::string rootWindow() {
        auto info = output({"xwininfo", "-root"});
        auto at = info.find("Window id: ");
        if (at == std::string::npos) return {};
        return std::to_string(std::stoul(info.substr(at + 11), nullptr, 16));
    }
};

struct Case {
    const char* name;
    // Given the key log's focused window (decimal id), prepares the desktop;
    // returns the window the inspector should report (decimal id) or "".
    std::function<std::string(FocusInspectorTest&, KeyLog&, const std::string&)> setup;
    std::string instance, className;
};

class FocusCases : public FocusInspectorTest, public ::testing::WithParamInterface<Case> {};

}  // namespace

TEST_P(FocusCases, ReportsTheFocusedClientAndItsClass) {
    std::optional<KeyLog> log(std::in_place, xvfb);
    const std::string window = focusedWindow();
    ASSERT_FALSE(window.empty());
    const std::string expected = GetParam().setup(*this, *log, window);
    X11FocusInspector inspector(xvfb.display());
    auto found = inspector.focusedApplication();
    if (expected.empty()) {
        EXPECT_EQ(found, std::nullopt);
        return;
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(std::to_string(found->window), expected) << hex(found->window);
    EXPECT_EQ(found->instanceName, GetParam().instance);
    EXPECT_EQ(found->className, GetParam().className);
}

INSTANTIATE_TEST_SUITE_P(
    X11, FocusCases,
    ::testing::Values(
        Case{"a_window_without_a_class_is_still_a_window",
             [](auto&, auto&, const std::string& w) { return w; }, "", ""},
        Case{"the_class_of_the_focused_window",
             [](auto& t, auto&, const std::string& w) {
                 t.xdotool({"set_window", "--classname", "xterm", "--class", "XTerm", w});
                 return w;
             },
             "xterm", "XTerm"},
        Case{"no_focus_and_no_active_window",
             [](auto& t, auto&, const std::string&) {
                 t.xdotool({"windowfocus", t.rootWindow()});
                 return std::string();
             },
             "", ""},
        Case{"focus_on_the_root_falls_back_to_the_active_window",
             [](auto& t, auto&, const std::string& w) {
                 t.xdotool({"set_window", "--classname", "kitty", "--class", "kitty", w});
                 t.output({"xprop", "-root", "-f", "_NET_ACTIVE_WINDOW", "32x", "-set", "_NET_ACTIVE_WINDOW", w});
                 t.xdotool({"windowfocus", t.rootWindow()});
                 return w;
             },
             "kitty", "kitty"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace quillant::testing
