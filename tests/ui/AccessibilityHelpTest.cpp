#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "testsupport/TempDir.h"
#include "ui/AccessibilityHelp.h"

using namespace quillant;
using namespace quillant::testing;

TEST(AccessibilityHelp, SaysWhatLinuxNeedsAndWhatThisSessionHas) {
    struct Case {
        const char* name;
        ui::SessionFindings findings;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {"X11 with XTEST", {":0", "", "x11", true, "Alt+Shift+G", true},
         {"X display: <code>:0</code>", "offers XTEST: quillant can send", "Hotkey <code>Alt+Shift+G</code> is armed",
          "Session type: <code>x11</code>"}},
        {"Wayland with XWayland", {":1", "wayland-0", "wayland", true, "Ctrl+Alt+K", false},
         {"Wayland session (<code>wayland-0</code>), with XWayland", "is not armed (another program may hold it)"}},
        {"Wayland without XWayland", {"", "wayland-0", "wayland", false, "Alt+Shift+G", false},
         {"No X display", "without XWayland", "offers no XTEST"}},
        {"a display name is escaped", {"<b>:0", "", "", true, "Alt+<", true}, {"&lt;b&gt;:0", "Alt+&lt;"}},
        {"sway without XWayland: the compositor's own ways",
         {"", "wayland-1", "wayland", true, "Alt+Shift+G", true, "quillant trigger, bound to a shortcut",
          "the compositor's virtual keyboard", "the compositor's data-control clipboard (zwlr_data_control_manager_v1)"},
         {"<li class=\"ok\">✓ Wayland session (<code>wayland-1</code>), without XWayland",
          "✓ quillant sends the copy and paste keys through the compositor's virtual keyboard",
          "✓ The clipboard is read and put back through the compositor's data-control clipboard",
          "✓ The hotkey comes from quillant trigger", "<code>quillant trigger</code>", "quillant doctor"}},
        {"a portal keyboard not yet allowed",
         {":1", "wayland-0", "wayland", false, "Alt+Shift+G", false, "the desktop's shortcut portal (Alt+Shift+G)",
          "the desktop portal's keyboard", "the X11 clipboard through XWayland"},
         {"✗ quillant cannot yet send the copy and paste keys through the desktop portal's keyboard",
          "✗ The hotkey comes from the desktop's shortcut portal (Alt+Shift+G)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string page = ui::accessibilityHelpPage(c.findings);
        EXPECT_NE(page.find("XWayland"), std::string::npos);
        EXPECT_NE(page.find("XTEST"), std::string::npos);
        for (const auto& phrase : c.says) EXPECT_NE(page.find(phrase), std::string::npos) << phrase;
        EXPECT_EQ(page.find("<b>:0"), std::string::npos);
    }
}

TEST(AccessibilityHelp, IsWrittenPrivatelyAndReplacedEachTime) {
    TempDir folder;
    auto first = ui::writeAccessibilityHelp(folder.path(), {":0", "", "x11", false, "Alt+Shift+G", true});
    ASSERT_TRUE(first);
    auto second = ui::writeAccessibilityHelp(folder.path(), {":0", "", "x11", true, "Alt+Shift+G", true});
    ASSERT_EQ(first, second);
    struct stat info{};
    ASSERT_EQ(::stat(second->c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    std::stringstream text;
    text << std::ifstream(*second).rdbuf();
    EXPECT_NE(text.str().find("offers XTEST: quillant can send"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << "nothing left beside it";
    EXPECT_FALSE(ui::writeAccessibilityHelp(folder.path() / "missing", {}));
}
