// quillant doctor in the sessions it reports on: a headless sway, an X
// server, a session bus with a portal (python3-dbusmock), and none of them.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "testsupport/PrivateBus.h"
#include "testsupport/Process.h"
#include "testsupport/SwayTestHarness.h"
#include "testsupport/X11TestHarness.h"

namespace quillant::testing {
namespace {

using namespace std::chrono_literals;

const std::string kNoBus = "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus";

ProgramResult doctor(const std::vector<std::string>& env) {
    ProcessOptions options;
    options.inheritEnvironment = false;
    options.env = env;
    options.env.push_back("PATH=/usr/bin:/bin");
    return runProgram({QUILLANT_EXE, "doctor"}, options, 60s);
}

// The value printed for `key`.
std::string valueOf(const std::string& out, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("\\n  " + key + ":\\s+([^\\n]*)"))) return "<missing>";
    return m[1];
}

TEST(Doctor, OnSwaySaysTheCompositorsProtocolsAndHowToBindTheHotkey) {
    HeadlessSway sway;
    ASSERT_TRUE(sway.ready()) << sway.failure();
    const auto r = sway.runClient({QUILLANT_EXE, "doctor"}, {kNoBus, "XDG_CURRENT_DESKTOP=sway"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(valueOf(r.out, "session type"), "wayland");
    EXPECT_EQ(valueOf(r.out, "DISPLAY"), "(not set)");
    EXPECT_EQ(valueOf(r.out, "Wayland zwlr_data_control_manager_v1"), "version 2");
    EXPECT_EQ(valueOf(r.out, "Wayland ext_data_control_manager_v1"), "not offered");
    EXPECT_EQ(valueOf(r.out, "Wayland zwp_virtual_keyboard_manager_v1"), "version 1");
    EXPECT_EQ(valueOf(r.out, "keystrokes"), "the compositor's virtual keyboard");
    EXPECT_EQ(valueOf(r.out, "clipboard"), "Wayland data-control (zwlr_data_control_manager_v1)");
    // Not on $PATH as quillant: the shortcut must run it by its full path.
    EXPECT_NE(valueOf(r.out, "hotkey").find("bindsym Mod1+Shift+g exec " + std::string(QUILLANT_EXE) + " trigger"),
              std::string::npos);
    EXPECT_EQ(valueOf(r.out, "sway IPC"), "answers");
    EXPECT_NE(valueOf(r.out, "focused application").find("known (sway's IPC)"), std::string::npos);
    EXPECT_NE(valueOf(r.out, "desktop portal").find("no session bus"), std::string::npos);
}

TEST(Doctor, OnAnXServerSaysTheGrabXTestAndTheX11Clipboard) {
    Xvfb xvfb;
    auto env = xvfb.env();
    env.push_back(kNoBus);
    env.push_back("XDG_SESSION_TYPE=x11");
    const auto r = doctor(env);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(valueOf(r.out, "X display"), "answers, with XTest");
    EXPECT_EQ(valueOf(r.out, "hotkey"), "Alt+Shift+G, grabbed on the X display");
    EXPECT_EQ(valueOf(r.out, "keystrokes"), "XTest on the X display");
    EXPECT_EQ(valueOf(r.out, "clipboard"), "the X11 clipboard");
    EXPECT_EQ(r.out.find("Wayland "), std::string::npos);
}

TEST(Doctor, ReadsThePortalsInterfacesAndVersionsFromTheSessionBus) {
    const PrivateSessionBus bus;
    const std::string busEnv = "DBUS_SESSION_BUS_ADDRESS=" + bus.address();
    // A portal that offers GlobalShortcuts (version 1) and not RemoteDesktop; Debian's python, which has dbusmock.
    Process portal = Process::start({"/usr/bin/python3", "-m", "dbusmock", "org.freedesktop.portal.Desktop",
                                     "/org/freedesktop/portal/desktop", "org.freedesktop.portal.GlobalShortcuts"},
                                    {busEnv}, true);
    bool added = false;
    for (int i = 0; i < 100 && !added; ++i) {
        ProcessOptions options;
        options.env = {busEnv};
        options.errors = ProcessOptions::Errors::discard;
        added = runProgram({"gdbus", "call", "--session", "--dest", "org.freedesktop.portal.Desktop", "--object-path",
                            "/org/freedesktop/portal/desktop", "--method", "org.freedesktop.DBus.Mock.AddProperty",
                            "org.freedesktop.portal.GlobalShortcuts", "version", "<uint32 1>"},
                           options, 10s)
                    .status == 0;
        if (!added) std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(added) << "the mocked portal did not come up";
    const auto r = doctor({busEnv});
    EXPECT_EQ(valueOf(r.out, "portal GlobalShortcuts"), "version 1") << r.out;
    EXPECT_EQ(valueOf(r.out, "portal RemoteDesktop"), "not offered") << r.out;

    // A remote-desktop portal whose backend offers only a pointer is no keyboard.
    ProcessOptions options;
    options.env = {busEnv};
    for (auto [property, value] : {std::pair{"version", "<uint32 2>"}, std::pair{"AvailableDeviceTypes", "<uint32 2>"}})
        ASSERT_EQ(runProgram({"gdbus", "call", "--session", "--dest", "org.freedesktop.portal.Desktop", "--object-path",
                              "/org/freedesktop/portal/desktop", "--method", "org.freedesktop.DBus.Mock.AddProperty",
                              "org.freedesktop.portal.RemoteDesktop", property, value},
                             options, 10s)
                      .status,
                  0);
    EXPECT_EQ(valueOf(doctor({busEnv}).out, "portal RemoteDesktop"), "version 2, without a keyboard");
}

TEST(Doctor, ASessionWithNothingToWorkWithFails) {
    const auto r = doctor({kNoBus});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(valueOf(r.out, "keystrokes").find("none"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace quillant::testing
