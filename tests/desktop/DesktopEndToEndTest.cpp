// quillant as a user meets it: a selection in a real application (Chromium),
// the hotkey pressed with xdotool, a real local service, the user's clipboard
// owned by xclip.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/linux/x11/XTestKeyEventPoster.h"
#include "runtime/Logger.h"
#include "testsupport/EditorPage.h"
#include "testsupport/Ports.h"
#include "testsupport/X11TestHarness.h"
#include "testsupport/XkbGroup.h"

using namespace quillant;
using namespace quillant::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class DesktopEndToEnd : public ::testing::Test {
protected:
    Xvfb xvfb;
    TempDir home;
    TempDir runtime;
    std::optional<Process> service;
    std::optional<Process> windowManager;
    std::string url;
    std::vector<std::string> env;

    void SetUp() override {
        const std::string keys = (home.path() / "keys").string();
        auto add = Process::start({QUILLANT_SERVICE_EXE, "--keys-file", keys, "--add-key"}, {}, true);
        add.wait(20s);
        const int port = unusedLoopbackPort();
        url = "http://127.0.0.1:" + std::to_string(port);
        service = Process::start({QUILLANT_SERVICE_EXE, "--keys-file", keys, "--port", std::to_string(port)}, {}, true);
        env = xvfb.env();
        env.push_back("HOME=" + home.path().string());
        env.push_back("XDG_CONFIG_HOME=" + (home.path() / "config").string());
        env.push_back("QUILLANT_SERVICE_URL=" + url);
        env.push_back("QUILLANT_LOG=stderr");
        env.push_back("XDG_RUNTIME_DIR=" + runtime.path().string());
        windowManager = startWindowManager(env);
        // The key goes in through standard input, never the command line.
        auto set = Process::start({"/bin/sh", "-c", "tail -n 1 \"$0\" | \"$1\" key set", keys, QUILLANT_EXE}, env, true);
        ASSERT_EQ(set.wait(20s), 0);
        for (int i = 0; i < 100; ++i) {
            auto status = Process::start({QUILLANT_EXE, "key", "status"}, env, true);
            if (status.wait(20s) == 0) break;
            std::this_thread::sleep_for(100ms);
        }
    }

    // The user's clipboard, owned by xclip, once it can be read back.
    Process ownClipboard() {
        writeFile(home.path() / "clip.txt", "the user's own clipboard");
        auto owner = Process::start(
            {"xclip", "-quiet", "-selection", "clipboard", "-i", (home.path() / "clip.txt").string()}, env, true);
        for (int i = 0; i < 50 && clipboardText() != "the user's own clipboard"; ++i)
            std::this_thread::sleep_for(100ms);
        return owner;
    }

    // Chromium showing the text area page; its title says "ready" once loaded.
    Process openPage(const std::string& chromium) {
        writeFile(home.path() / "page.html", editorPage());
        return Process::start({chromium, "--no-sandbox", "--disable-gpu", "--no-first-run",
                               "--disable-background-networking", "--disable-component-update", "--disable-sync",
                               "--disable-breakpad", "--user-data-dir=" + (home.path() / "profile").string(),
                               "--window-position=0,0", "--window-size=1024,700",
                               "file://" + (home.path() / "page.html").string()},
                              env, true, true);
    }

    // quillant with its log on standard output.
    Process startQuillant() {
        return Process::start({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, env, false, true);
    }

    bool windowTitled(const std::string& title, std::chrono::seconds bound) {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            auto search = Process::start({"xdotool", "search", "--name", "^" + title + "( - Chromium)?$"}, env, true);
            if (search.wait(10s) == 0) return true;
            std::this_thread::sleep_for(150ms);
        }
        return false;
    }

    int xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        auto p = Process::start(args, env, true);
        return p.wait(20s);
    }

    std::string clipboardText() {
        auto p = Process::start({"xclip", "-o", "-selection", "clipboard"}, env, true);
        std::string out = p.readAll(10s);
        p.wait(10s);
        return out;
    }

    std::string currentTitle() {
        auto p = Process::start({"xdotool", "search", "--name", "^(v:|ready).*", "getwindowname"}, env, true);
        std::string out = p.readAll(10s);
        p.wait(10s);
        return out;
    }

    // A keyboard's presses and releases by keycode ("down:64", "up:64",
    // "sleep:0.15"), so that no tool selects another layout group to type.
    int keyboard(const std::vector<std::string>& steps) {
        std::vector<std::string> args;
        for (const auto& step : steps) {
            const auto colon = step.find(':');
            const std::string verb = step.substr(0, colon), what = step.substr(colon + 1);
            args.push_back(verb == "down" ? "keydown" : verb == "up" ? "keyup" : "sleep");
            args.push_back(what);
        }
        return xdotool(args);
    }

    static std::string regexQuoted(const std::string& text) {
        std::string quoted;
        for (char c : text) {
            if (std::string("\\.^$|()[]{}*+?").find(c) != std::string::npos) quoted += '\\';
            quoted += c;
        }
        return quoted;
    }

    std::string expectedFix(const std::string& text) {
        auto p = Process::start({"/bin/sh", "-c", "printf %s \"$0\" | \"$1\" fix", text, QUILLANT_EXE}, env, true);
        std::string out = p.readAll(20s);
        p.wait(20s);
        return out;
    }
};

}  // namespace

TEST_F(DesktopEndToEnd, TheHotkeyFixesTheSelectionAndLeavesTheClipboardAsItWas) {
    const auto chromium = chromiumPath();
    ASSERT_FALSE(chromium.empty()) << "chromium is not installed (scripts/bootstrap installs it)";

    auto quillant = startQuillant();
    ASSERT_TRUE(quillant.waitForLine("quillant started; hotkey Alt+Shift+G armed", 30s));

    // The user's own clipboard, owned by another program.
    auto owner = ownClipboard();
    ASSERT_EQ(clipboardText(), "the user's own clipboard");

    auto browser = openPage(chromium);
    ASSERT_TRUE(windowTitled("ready", 60s)) << "the page did not load";
    ASSERT_EQ(xdotool({"key", "ctrl+a"}), 0);  // the page focused its text area

    // Alt+Shift+G pressed and held for 150 ms: our own grab holds the keyboard
    // until G is up, so the copy must wait for it.
    ASSERT_EQ(xdotool({"keydown", "alt", "keydown", "shift", "keydown", "g", "sleep", "0.15", "keyup", "g", "keyup",
                       "shift", "keyup", "alt"}),
              0);
    std::vector<std::string> lines;
    ASSERT_TRUE(quillant.waitForLine("paste committed; clipboard restored", 30s, &lines))
        << "log: " << ::testing::PrintToString(lines);
    EXPECT_TRUE(windowTitled("v:The cat sat\\.", 20s)) << "the correction was not pasted; title: " << currentTitle();
    EXPECT_EQ(clipboardText(), "the user's own clipboard");

    // Alt+Shift held well past the wait's bound: the chord still carries only Control.
    const std::string second = "i think teh  plan works .";
    ASSERT_EQ(xdotool({"key", "ctrl+a", "type", "--delay", "5", second}), 0);
    ASSERT_EQ(xdotool({"key", "ctrl+a"}), 0);
    const std::string expected = expectedFix(second);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(xdotool({"keydown", "alt", "keydown", "shift", "keydown", "g", "sleep", "0.1", "keyup", "g", "sleep",
                       "2.5", "keyup", "shift", "keyup", "alt"}),
              0);
    lines.clear();
    ASSERT_TRUE(quillant.waitForLine("paste committed; clipboard restored", 30s, &lines))
        << "log: " << ::testing::PrintToString(lines);
    std::string escaped;
    for (char c : expected) {
        if (std::string("\\.^$|()[]{}*+?").find(c) != std::string::npos) escaped += '\\';
        escaped += c;
    }
    EXPECT_TRUE(windowTitled("v:" + escaped, 20s)) << "expected " << expected;
    EXPECT_EQ(clipboardText(), "the user's own clipboard");

    // Nothing is left held down.
    NullLogger quiet;
    linux_platform::XTestKeyEventPoster keyboard(quiet, xvfb.display());
    EXPECT_FALSE(keyboard.keysHeld());

    // The key file is where it belongs, private.
    struct stat st {};
    ASSERT_EQ(::stat((home.path() / ".config/quillant/token").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A second start in the same session opens the running one's panel and ends.
    auto second_start = startQuillant();
    EXPECT_EQ(second_start.wait(30s), 0);
    EXPECT_TRUE(quillant.waitForLine("panel opened for another start", 10s));

    // A quillant of another session on the same display cannot take the
    // hotkey, and says so.
    TempDir otherRuntime;
    ::chmod(otherRuntime.path().c_str(), 0700);
    for (auto& e : env)
        if (e.starts_with("XDG_RUNTIME_DIR=")) e = "XDG_RUNTIME_DIR=" + otherRuntime.path().string();
    auto second_instance = startQuillant();
    EXPECT_TRUE(second_instance.waitForLine("could not be armed: another program holds it", 30s));
    // and does not claim otherwise as it starts.
    EXPECT_TRUE(second_instance.waitForLine(
        "quillant started; hotkey Alt+Shift+G not armed (another program holds it); status=", 30s));
    second_instance.terminate();
    for (auto& e : env)
        if (e.starts_with("XDG_RUNTIME_DIR=")) e = "XDG_RUNTIME_DIR=" + runtime.path().string();

    // SIGTERM ends the first cleanly and gives the hotkey back.
    ::kill(quillant.pid(), SIGTERM);
    EXPECT_EQ(quillant.wait(20s), 0);
    auto third = startQuillant();
    std::vector<std::string> thirdLines;
    ASSERT_TRUE(third.waitForLine("quillant started", 30s, &thirdLines));
    for (auto& l : thirdLines) EXPECT_EQ(l.find("could not be armed"), std::string::npos) << l;
    third.terminate();
}

// Physical keys (evdev keycodes): Control, Alt, Shift, and the keys of A, G, End, Home.
namespace keycode {
constexpr const char* control = "37";
constexpr const char* alt = "64";
constexpr const char* shift = "50";
constexpr const char* a = "38";
constexpr const char* g = "42";
}  // namespace keycode

TEST_F(DesktopEndToEnd, WithACyrillicLayoutFirstAndAfterLayoutChangesTheFixWorksAndFailsClosedWithoutControl) {
    const auto chromium = chromiumPath();
    ASSERT_FALSE(chromium.empty()) << "chromium is not installed (scripts/bootstrap installs it)";
    ASSERT_EQ(Process::start({"setxkbmap", "-layout", "ru,us"}, env, true).wait(20s), 0);
    XkbGroup group(xvfb.display());

    auto quillant = startQuillant();
    ASSERT_TRUE(quillant.waitForLine("quillant started; hotkey Alt+Shift+G armed", 30s));
    auto owner = ownClipboard();
    ASSERT_EQ(clipboardText(), "the user's own clipboard");

    auto browser = openPage(chromium);
    ASSERT_TRUE(windowTitled("ready", 60s)) << "the page did not load";

    const std::vector<std::string> selectAll{std::string("down:") + keycode::control, std::string("down:") + keycode::a,
                                             std::string("up:") + keycode::a, std::string("up:") + keycode::control};
    const std::vector<std::string> hotkey{std::string("down:") + keycode::alt,   std::string("down:") + keycode::shift,
                                          std::string("down:") + keycode::g,     "sleep:0.15",
                                          std::string("up:") + keycode::g,       std::string("up:") + keycode::shift,
                                          std::string("up:") + keycode::alt};
    auto fixReaches = [&](const std::string& text, const std::string& expectedTitle) {
        std::vector<std::string> lines;
        EXPECT_EQ(keyboard(hotkey), 0);
        EXPECT_TRUE(quillant.waitForLine("paste committed; clipboard restored", 30s, &lines))
            << "log: " << ::testing::PrintToString(lines);
        EXPECT_TRUE(windowTitled(expectedTitle, 20s)) << text << " was not fixed; title: " << currentTitle();
        EXPECT_EQ(clipboardText(), "the user's own clipboard");
    };

    // Russian selected: Ctrl+ф selects all, the hotkey is Alt+Shift+п, the
    // chords are Control with the keys of с and м.
    group.lock(0);
    ASSERT_EQ(keyboard(selectAll), 0);
    fixReaches("teh cat sat .", "v:The cat sat\\.");
    EXPECT_EQ(group.active(), 0u);

    // The second layout selected while quillant runs.
    const std::string second = "The cat sat. teh";
    group.lock(1);
    ASSERT_EQ(xdotool({"type", "--delay", "5", " teh"}), 0);
    group.lock(1);
    ASSERT_EQ(keyboard(selectAll), 0);
    const std::string secondFixed = expectedFix(second);
    ASSERT_FALSE(secondFixed.empty());
    fixReaches(second, "v:" + regexQuoted(secondFixed));
    EXPECT_EQ(group.active(), 1u);

    // Another keyboard map loaded while it runs (a Latin layout other than us).
    ASSERT_EQ(Process::start({"setxkbmap", "-layout", "de"}, env, true).wait(20s), 0);
    ASSERT_EQ(keyboard({"down:115", "up:115"}), 0);  // End
    ASSERT_EQ(xdotool({"type", "--delay", "5", " teh"}), 0);
    ASSERT_EQ(keyboard(selectAll), 0);
    const std::string third = secondFixed + " teh";
    fixReaches(third, "v:" + regexQuoted(expectedFix(third)));

    // A map without Control: nothing is typed over the selection, the
    // clipboard stays the user's, and the log says why.
    ASSERT_EQ(Process::start({"xmodmap", "-e", "clear control"}, env, true).wait(20s), 0);
    ASSERT_EQ(keyboard({"down:115", "up:115", std::string("down:") + keycode::shift, "down:110", "up:110",
                        std::string("up:") + keycode::shift}),
              0);  // End, Shift+Home: the line selected without Control
    const std::string selected = currentTitle();
    std::vector<std::string> lines;
    ASSERT_EQ(keyboard(hotkey), 0);
    EXPECT_TRUE(quillant.waitForLine("copy failed", 30s, &lines)) << "log: " << ::testing::PrintToString(lines);
    bool refused = false;
    for (const auto& line : lines) refused |= line.find("Chord not sent: the keyboard map has no Control key") != std::string::npos;
    EXPECT_TRUE(refused) << "log: " << ::testing::PrintToString(lines);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(currentTitle(), selected) << "something was typed over the selection";
    EXPECT_EQ(clipboardText(), "the user's own clipboard");
}
