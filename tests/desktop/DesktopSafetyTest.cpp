// quillant on a real X server in the windows where a fix could lose
// something: terminals with a running job, a clipboard manager beside a slow
// pasting application, a clipboard owner too slow to copy, the focus moving
// while the service answers, and the session ending mid-fix. The service is a
// stub on loopback whose answer can be delayed.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "testsupport/X11TestHarness.h"

using namespace quillant::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr const char* kUserClipboard = "the user's own clipboard";

// The text-fixing service: "teh" becomes "the", after an optional delay.
struct StubService {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<int> fixDelayMs{0};

    StubService() {
        server.Get("/v1/validate", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"valid":true})", "application/json");
        });
        server.Post("/v1/fix", [this](const httplib::Request& req, httplib::Response& res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(fixDelayMs.load()));
            std::string text = nlohmann::json::parse(req.body, nullptr, false).value("text", "");
            for (auto at = text.find("teh"); at != std::string::npos; at = text.find("teh", at)) text.replace(at, 3, "the");
            res.set_content(nlohmann::json{{"corrected", text}}.dump(), "application/json");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~StubService() {
        server.stop();
        thread.join();
    }
};

// A peer window of ours (see peer/EditorPeer.cpp) with its output lines.
struct Editor {
    Process process;
    std::string window;  // "0x…"
    std::vector<std::string> lines;

    // The next line that contains `needle`, within `bound`.
    bool waitFor(const std::string& needle, std::chrono::milliseconds bound) {
        auto deadline = std::chrono::steady_clock::now() + bound;
        for (auto& l : lines)
            if (l.find(needle) != std::string::npos) return true;
        while (std::chrono::steady_clock::now() < deadline) {
            auto line = process.readLine(100ms);
            if (!line) continue;
            lines.push_back(*line);
            if (line->find(needle) != std::string::npos) return true;
        }
        return false;
    }
    bool saw(const std::string& needle, std::chrono::milliseconds bound = 300ms) { return waitFor(needle, bound); }
};

class DesktopSafety : public ::testing::Test {
protected:
    Xvfb xvfb;
    TempDir home;
    StubService service;
    std::optional<Process> windowManager;
    std::vector<std::string> env;

    void SetUp() override {
        env = xvfb.env();
        env.push_back("HOME=" + home.path().string());
        env.push_back("XDG_CONFIG_HOME=" + (home.path() / "config").string());
        env.push_back("XDG_RUNTIME_DIR=" + home.path().string());
        env.push_back("QUILLANT_SERVICE_URL=http://127.0.0.1:" + std::to_string(service.port));
        env.push_back("QUILLANT_LOG=stderr");
        windowManager = startWindowManager(env);
        auto set = Process::start({"/bin/sh", "-c", "echo ql_desktop_test | \"$0\" key set", QUILLANT_EXE}, env, true);
        ASSERT_EQ(set.wait(20s), 0);
    }

    void writeSettings(const std::string& json) {
        fs::create_directories(home.path() / "config/quillant");
        writeFile(home.path() / "config/quillant/settings.json", json);
    }

    Process startQuillant() {
        auto p = Process::start({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, env, false, true);
        EXPECT_TRUE(p.waitForLine("quillant started; hotkey Alt+Shift+G armed", 30s));
        return p;
    }


    Editor startEditor(const std::string& instance, const std::string& text, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{QUILLANT_TEST_EDITOR, "editor", "--instance", instance, "--class",
                                      "Editor-" + instance, "--text", text};
        argv.insert(argv.end(), extra.begin(), extra.end());
        Editor e{Process::start(argv, env), {}, {}};
        auto ready = e.process.readLine(20s);
        EXPECT_TRUE(ready && ready->rfind("ready 0x", 0) == 0) << (ready ? *ready : "no line");
        if (ready && ready->size() > 6) e.window = ready->substr(6);
        return e;
    }

    int run(std::vector<std::string> argv, std::chrono::seconds bound = 20s) {
        auto p = Process::start(argv, env, true);
        return p.wait(bound);
    }

    void focus(const std::string& window) {
        run({"xdotool", "windowactivate", "--sync", window});
        run({"xdotool", "windowfocus", "--sync", window});
    }

    void pressHotkey() {
        ASSERT_EQ(run({"xdotool", "keydown", "alt", "keydown", "shift", "keydown", "g", "sleep", "0.1", "keyup", "g",
                       "keyup", "shift", "keyup", "alt"}),
                  0);
    }

    std::string clipboardText() {
        auto p = Process::start({"xclip", "-o", "-selection", "clipboard"}, env, true);
        std::string out = p.readAll(10s);
        p.wait(10s);
        return out;
    }

    // The user's clipboard, owned by another program (xclip) until it is replaced.
    Process ownUserClipboard() {
        writeFile(home.path() / "clip.txt", kUserClipboard);
        auto owner =
            Process::start({"xclip", "-quiet", "-selection", "clipboard", "-i", (home.path() / "clip.txt").string()},
                           env, true);
        for (int i = 0; i < 50 && clipboardText() != kUserClipboard; ++i) std::this_thread::sleep_for(100ms);
        EXPECT_EQ(clipboardText(), kUserClipboard);
        return owner;
    }
};

struct TerminalCase {
    const char* name;
    std::vector<std::string> command;  // the job's shell command goes last
    std::string className;
};

class Terminals : public DesktopSafety, public ::testing::WithParamInterface<TerminalCase> {};

}  // namespace

TEST_P(Terminals, TheHotkeyInATerminalIsRefusedAndItsJobRunsOn) {
    const auto& terminal = GetParam();
    auto quillant = startQuillant();
    auto clipOwner = ownUserClipboard();
    const fs::path pidFile = home.path() / "job.pid";
    auto argv = terminal.command;
    argv.push_back("echo $$ > '" + pidFile.string() + "'; exec sleep 1000");
    auto term = Process::start(argv, env, true, true);
    auto job = readPidFile(pidFile, 30s);
    ASSERT_TRUE(job) << "the terminal did not start its job";
    // The terminal's window has the focus once it is mapped.
    std::string window;
    for (int i = 0; i < 100 && window.empty(); ++i) {
        auto search = Process::start({"xdotool", "search", "--onlyvisible", "--class", terminal.className}, env, true);
        window = search.readAll(5s);
        search.wait(5s);
        if (auto nl = window.find('\n'); nl != std::string::npos) window.resize(nl);
        if (window.empty()) std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(window.empty());
    focus(window);

    pressHotkey();
    std::vector<std::string> lines;
    EXPECT_TRUE(quillant.waitForLine("terminals are refused unless opted in", 20s, &lines))
        << ::testing::PrintToString(lines);
    std::this_thread::sleep_for(500ms);  // an interrupt would have ended the job by now
    EXPECT_TRUE(processRunning(*job)) << "the terminal's foreground job ended";
    EXPECT_EQ(clipboardText(), kUserClipboard);
    for (auto& l : lines) EXPECT_EQ(l.find("copy failed"), std::string::npos) << l;
    term.terminate();
}

INSTANTIATE_TEST_SUITE_P(
    Desktop, Terminals,
    ::testing::Values(TerminalCase{"xterm", {"xterm", "-e", "/bin/sh", "-c"}, "XTerm"},
                      TerminalCase{"xfce4_terminal",
                                   {"dbus-run-session", "--", "xfce4-terminal", "--disable-server", "-x", "/bin/sh", "-c"},
                                   "Xfce4-terminal"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DesktopSafety, AnOptedInTerminalGetsCtrlShiftAndItsJobRunsOn) {
    writeSettings(R"({"applicationChords": {"xfce4-terminal": "ctrl+shift"}})");
    auto quillant = startQuillant();
    auto clipOwner = ownUserClipboard();
    // The job shows a line and takes every key it is sent, unbuffered, into a file.
    const fs::path pidFile = home.path() / "job.pid";
    const fs::path typed = home.path() / "typed";
    auto term = Process::start({"dbus-run-session", "--", "xfce4-terminal", "--disable-server", "--hide-menubar",
                                "--hide-toolbar", "--hide-scrollbar", "--geometry", "60x10", "-x", "/bin/sh", "-c",
                                "stty -icanon -echo; echo \"$$\" > '" + pidFile.string() +
                                    "'; echo 'teh cat sat'; exec dd bs=1 of='" + typed.string() + "' 2>/dev/null"},
                               env, true, true);
    auto job = readPidFile(pidFile, 30s);
    ASSERT_TRUE(job);
    std::string window;
    for (int i = 0; i < 100 && window.empty(); ++i) {
        auto search = Process::start({"xdotool", "search", "--onlyvisible", "--class", "Xfce4-terminal"}, env, true);
        window = search.readAll(5s);
        search.wait(5s);
        if (auto nl = window.find('\n'); nl != std::string::npos) window.resize(nl);
        if (window.empty()) std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(window.empty());
    focus(window);
    std::this_thread::sleep_for(300ms);
    // A double click selects the first word the job printed. (A whole line
    // would end in a newline, and the terminal asks before pasting that.)
    ASSERT_EQ(run({"xdotool", "mousemove", "--window", window, "8", "8", "click", "--repeat", "2", "--delay", "80",
                   "1"}),
              0);
    std::this_thread::sleep_for(300ms);

    pressHotkey();
    std::vector<std::string> lines;
    ASSERT_TRUE(quillant.waitForLine("paste committed; clipboard restored", 20s, &lines))
        << ::testing::PrintToString(lines);
    std::string got;
    for (int i = 0; i < 50 && got.find("the") == std::string::npos; ++i) {
        std::this_thread::sleep_for(100ms);
        std::ifstream in(typed, std::ios::binary);
        got.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(got, "the")
        << "the job was sent: " << ::testing::PrintToString(got) << " log: " << ::testing::PrintToString(lines);
    EXPECT_EQ(got.find('\x03'), std::string::npos) << "an interrupt reached the job";
    EXPECT_TRUE(processRunning(*job));
    EXPECT_EQ(clipboardText(), kUserClipboard);
    term.terminate();
}

TEST_F(DesktopSafety, WithCopyQRunningASlowApplicationPastesTheCorrectionAndTheClipboardComesBack) {
    // CopyQ reads every new clipboard at once; the editor reads 600 ms after the paste keystroke.
    auto copyq = Process::start({"dbus-run-session", "--", "copyq"}, [&] {
        auto e = env;
        e.push_back("QT_QPA_PLATFORM=xcb");
        return e;
    }(), true, true);
    bool copyqUp = false;
    for (int i = 0; i < 100 && !copyqUp; ++i) {
        copyqUp = run({"dbus-run-session", "--", "copyq", "count"}, 10s) == 0;
        if (!copyqUp) std::this_thread::sleep_for(100ms);
    }
    auto quillant = startQuillant();
    auto clipOwner = ownUserClipboard();
    auto editor = startEditor("slow", "teh cat sat", {"--paste-delay-ms", "600"});
    focus(editor.window);

    pressHotkey();
    ASSERT_TRUE(editor.waitFor("copied", 10s));
    std::vector<std::string> lines;
    ASSERT_TRUE(editor.waitFor("pasted ", 20s)) << ::testing::PrintToString(editor.lines);
    ASSERT_TRUE(quillant.waitForLine("paste committed; clipboard restored", 20s, &lines))
        << ::testing::PrintToString(lines);
    EXPECT_EQ(editor.lines.back(), "pasted the cat sat");
    EXPECT_EQ(clipboardText(), kUserClipboard);
    EXPECT_TRUE(copyq.running()) << "CopyQ was not running";
}

TEST_F(DesktopSafety, AnOwnerTooSlowToListItsTypesLeavesTheClipboardAlone) {
    auto quillant = startQuillant();
    auto owner = Process::start({QUILLANT_TEST_EDITOR, "owner", "--text", kUserClipboard, "--targets-delay-ms", "1500"},
                                env);
    ASSERT_EQ(owner.readLine(20s), std::optional<std::string>("ready"));
    auto editor = startEditor("doc", "teh cat");
    focus(editor.window);

    pressHotkey();
    std::vector<std::string> lines;
    EXPECT_TRUE(quillant.waitForLine("clipboard snapshot incomplete: its owner did not answer in time; fix refused",
                            20s, &lines))
        << ::testing::PrintToString(lines);
    EXPECT_FALSE(editor.saw("copied", 500ms)) << "the copy chord went out";
    EXPECT_TRUE(owner.running());
    EXPECT_EQ(clipboardText(), kUserClipboard);
}

TEST_F(DesktopSafety, WhenTheFocusMovesWhileTheServiceAnswersNothingIsPasted) {
    service.fixDelayMs = 2500;
    auto quillant = startQuillant();
    auto clipOwner = ownUserClipboard();
    auto chat = startEditor("chat", "someone else's chat");
    auto doc = startEditor("doc", "teh cat");
    focus(doc.window);

    pressHotkey();
    ASSERT_TRUE(doc.waitFor("copied", 10s));
    std::vector<std::string> lines;
    ASSERT_TRUE(quillant.waitForLine("captured selection", 10s, &lines)) << ::testing::PrintToString(lines);
    focus(chat.window);
    EXPECT_TRUE(quillant.waitForLine("focus moved away from Editor-doc during the fix; correction not pasted", 20s,
                            &lines))
        << ::testing::PrintToString(lines);
    EXPECT_FALSE(chat.saw("paste-key", 500ms));
    EXPECT_FALSE(doc.saw("paste-key", 100ms));
    EXPECT_EQ(clipboardText(), kUserClipboard);
}

TEST_F(DesktopSafety, SighupInTheMiddleOfAFixPutsTheClipboardBackAndHandsItToTheClipboardManager) {
    auto manager = Process::start({QUILLANT_X11CLIP_PEER, "manager"}, env);
    std::this_thread::sleep_for(300ms);
    auto quillant = startQuillant();
    auto clipOwner = ownUserClipboard();
    // The editor never fetches what it was asked to paste: quillant still
    // holds the correction when the session ends.
    auto editor = startEditor("doc", "teh cat", {"--no-paste-read"});
    focus(editor.window);

    pressHotkey();
    ASSERT_TRUE(editor.waitFor("paste-key", 20s));
    ::kill(quillant.pid(), SIGHUP);
    std::vector<std::string> lines;
    EXPECT_TRUE(quillant.waitForLine("quit during a fix; clipboard restored", 10s, &lines))
        << ::testing::PrintToString(lines);
    EXPECT_EQ(quillant.wait(20s), 0);
    EXPECT_EQ(clipboardText(), kUserClipboard);
}
