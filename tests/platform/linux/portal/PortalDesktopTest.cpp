// The program on a Wayland-like session: quillant under Xvfb (its X11 side
// through "XWayland"), told it is on Wayland, with the mock portal on a
// private session bus. The desktop's shortcut reaches the fix flow, and the
// copy chord goes out through the portal's keyboard.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "PortalMock.h"
#include "testsupport/X11TestHarness.h"

using namespace quillant::testing;
using namespace std::chrono_literals;

namespace {

std::string testName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

class PortalDesktop : public ::testing::Test {
protected:
    PortalDesktop() : mock(testName()) {
        std::filesystem::create_directories(home.path() / ".config" / "quillant");
        std::ofstream(home.path() / ".config" / "quillant" / "token") << "ql_test_key";
        ::chmod((home.path() / ".config" / "quillant" / "token").c_str(), 0600);
        ::chmod(runtime.path().c_str(), 0700);
    }

    Process startAgent(const std::string& sessionType) {
        auto env = xvfb.env();
        for (const std::string& entry :
             {"HOME=" + home.path().string(), "XDG_RUNTIME_DIR=" + runtime.path().string(),
              "XDG_SESSION_TYPE=" + sessionType, std::string("WAYLAND_DISPLAY=wayland-quillant-test"),
              std::string("QT_QPA_PLATFORM=xcb"), std::string("QUILLANT_LOG=stderr"),
              std::string("QUILLANT_SERVICE_URL=http://127.0.0.1:9"),
              "DBUS_SESSION_BUS_ADDRESS=" + PortalBus::get().address()})
            env.push_back(entry);
        ProcessOptions options{env};
        options.dropFromEnvironment = {"XDG_CONFIG_HOME="};
        options.ownGroup = true;
        return Process::startWith({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, options);
    }

    // Whether the agent has written `needle` (at any time since it started).
    bool waitForLine(Process& p, const std::string& needle, std::chrono::seconds bound = 20s) {
        auto& seen = transcripts[p.pid()];
        if (std::any_of(seen.begin(), seen.end(), [&](const auto& l) { return l.find(needle) != std::string::npos; }))
            return true;
        return p.waitForLine(needle, bound, &seen);
    }
    std::map<pid_t, std::vector<std::string>> transcripts;

    Xvfb xvfb;
    TempDir home;
    TempDir runtime;
    PortalMock mock;
};

}  // namespace

TEST_F(PortalDesktop, TheDesktopsShortcutStartsAFixWhoseCopyGoesThroughThePortalAndIsAskedForOnce) {
    mock.start(R"({"registry": true})");
    {
        auto agent = startAgent("wayland");
        ASSERT_TRUE(waitForLine(agent, "Keyboard access through the desktop's remote-desktop portal: allowed"));
        ASSERT_TRUE(mock.waitFor("BindShortcuts fix-selection"));
        ASSERT_TRUE(processUntil([&] { return mock.saw("Register com.vostel.quillant"); }));
        // The bind's answer comes after the request; give the agent its moment.
        ASSERT_TRUE(waitForLine(agent, "Hotkey bound by the desktop's shortcut portal: Alt+Shift+G"));
        // Armed only once the desktop has bound it, and said so.
        EXPECT_TRUE(waitForLine(agent, "quillant started; hotkey Alt+Shift+G not armed (the desktop has not bound it yet)"));
        EXPECT_TRUE(waitForLine(agent, "hotkey armed: Alt+Shift+G"));

        mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), true});
        mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), false});
        ASSERT_TRUE(waitForLine(agent, "hotkey fired"));
        ASSERT_TRUE(mock.waitFor("keysym 65507 0"));  // Control up: the chord is over
        const auto keys = mock.keys();
        EXPECT_EQ(keys, (std::vector<std::string>{"keysym 65505 1", "keysym 65505 0", "keysym 65507 1", "keysym 99 1",
                                                  "keysym 99 0", "keysym 65507 0"}));

        agent.signal(SIGTERM);
        EXPECT_EQ(agent.wait(20s), 0);
        EXPECT_TRUE(mock.waitFor("Session.Close remote"));
        EXPECT_TRUE(mock.waitFor("Session.Close shortcuts"));
    }
    // The next start brings the permission the desktop gave.
    auto again = startAgent("wayland");
    ASSERT_TRUE(waitForLine(again, "Keyboard access through the desktop's remote-desktop portal: allowed"));
    EXPECT_TRUE(mock.saw("SelectDevices types=1 persist_mode=2 restore_token=restore-1"));
}

TEST_F(PortalDesktop, OnX11ThePortalIsLeftAloneAndARefusalOnWaylandFallsBackToX11) {
    mock.start(R"({"registry": true})");
    mock.respond("RemoteDesktop.Start", 2);
    {
        auto x11 = startAgent("x11");
        ASSERT_TRUE(waitForLine(x11, "hotkey Alt+Shift+G armed"));
        EXPECT_TRUE(mock.log().empty());
    }
    auto wayland = startAgent("wayland");
    ASSERT_TRUE(waitForLine(wayland, "Keyboard access through the desktop's remote-desktop portal: refused; "
                                     "keystrokes go through XWayland only"));
    EXPECT_TRUE(wayland.running());
    EXPECT_TRUE(mock.keys().empty());
}
