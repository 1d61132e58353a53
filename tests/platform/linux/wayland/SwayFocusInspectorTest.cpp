// The focused window on sway: read from trees as sway writes them, and from a
// running sway while Qt windows on Wayland take the focus.
#include <gtest/gtest.h>

#include "platform/linux/wayland/SwayFocusInspector.h"
#include <thread>

#include "testsupport/SwayTestHarness.h"

namespace quillant::testing {
namespace {

using clipboard::FocusedApplication;
using linux_platform::focusedViewInTree;
using linux_platform::SwayFocusInspector;
using namespace std::chrono_literals;

// A tree cut down to what matters: root, output, workspace, views.
std::string tree(const std::string& views, bool workspaceFocused = false) {
    return R"({"id":1,"type":"root","focused":false,"nodes":[{"id":3,"type":"output","focused":false,"nodes":[
             {"id":4,"type":"workspace","name":"1","focused":)" +
           std::string(workspaceFocused ? "true" : "false") + R"(,"nodes":[)" + views +
           R"(],"floating_nodes":[]}]}]})";
}

struct TreeCase {
    const char* name;
    std::string json;
    std::optional<FocusedApplication> expected;
};

class SwayTreeTest : public ::testing::TestWithParam<TreeCase> {};

TEST_P(SwayTreeTest, TheFocusedViewIsNamedByItsAppIdOrItsWindowClass) {
    EXPECT_EQ(focusedViewInTree(GetParam().json), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, SwayTreeTest,
    ::testing::Values(
        TreeCase{"native", tree(R"({"id":7,"type":"con","focused":false,"app_id":"chromium","nodes":[]},
                                   {"id":8,"type":"con","focused":true,"app_id":"foot","nodes":[]})"),
                 FocusedApplication{8, "foot", "foot"}},
        TreeCase{"xwayland",
                 tree(R"({"id":9,"type":"con","focused":true,"app_id":null,
                          "window_properties":{"class":"XTerm","instance":"xterm"},"nodes":[]})"),
                 FocusedApplication{9, "xterm", "XTerm"}},
        TreeCase{"floating", R"({"id":1,"type":"root","focused":false,"nodes":[{"id":4,"type":"workspace",
                  "focused":false,"nodes":[],"floating_nodes":[{"id":12,"type":"floating_con","focused":true,
                  "app_id":"org.gnome.Calculator"}]}]})",
                 FocusedApplication{12, "org.gnome.Calculator", "org.gnome.Calculator"}},
        TreeCase{"empty_workspace", tree("", true), std::nullopt},
        TreeCase{"no_focus", tree(R"({"id":7,"type":"con","focused":false,"app_id":"foot"})"), std::nullopt},
        TreeCase{"not_json", "{\"id\":1,\"nodes\":[", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SwayFocusInspector, FollowsTheFocusFromWindowToWindow) {
    HeadlessSway sway;
    ASSERT_TRUE(sway.ready()) << sway.failure();
    SwayFocusInspector inspector(sway.ipcSocket().string());
    EXPECT_TRUE(SwayFocusInspector::reachable(sway.ipcSocket().string()));
    EXPECT_EQ(inspector.focusedApplication(), std::nullopt) << "nothing has the focus on an empty workspace";

    Process first = sway.startClient({QUILLANT_QT_SHORTCUT_LOG}, {"QT_QPA_PLATFORM=wayland"});
    ASSERT_EQ(first.readLine(60s), "ready");
    const auto one = inspector.focusedApplication();
    ASSERT_TRUE(one);
    // sway's own view of the window's name.
    const auto windows = sway.windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(one->instanceName, windows[0].substr(0, windows[0].find('\t')));
    EXPECT_FALSE(one->instanceName.empty());

    Process second = sway.startClient({QUILLANT_QT_SHORTCUT_LOG}, {"QT_QPA_PLATFORM=wayland"});
    ASSERT_EQ(second.readLine(60s), "ready");
    const auto two = inspector.focusedApplication();
    ASSERT_TRUE(two);
    EXPECT_NE(two->window, one->window) << "the new window took the focus";
    second.terminate();
    second.wait(10s);
    std::optional<FocusedApplication> back;
    for (int i = 0; i < 100 && (!back || back->window != one->window); ++i) {
        back = inspector.focusedApplication();
        if (!back || back->window != one->window) std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(back, one);

    EXPECT_FALSE(SwayFocusInspector::reachable((sway.runtimeDir() / "no-such.sock").string()));
}

}  // namespace
}  // namespace quillant::testing
