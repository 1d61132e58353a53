// quillant as a user of a wlroots desktop meets it: a headless sway with
// Alt+Shift+G bound to `quillant trigger`, Chromium as a native Wayland
// client holding a selection, the user's clipboard set with wl-copy, the key
// pressed through a virtual keyboard (wtype) so that sway's binding fires, the
// local service as the backend. The keystrokes go through quillant's virtual
// keyboard and the clipboard through data-control.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "testsupport/EditorPage.h"
#include "testsupport/Ports.h"
#include "testsupport/SwayTestHarness.h"

using namespace quillant::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Non-ASCII text, so that a restore that re-encodes it would show.
constexpr const char* kUserClipboard = "the user's own clipboard: grüße, 東京, 🙂\n\ttabs and a trailing newline\n";

class SwayEndToEnd : public ::testing::Test {
protected:
    std::unique_ptr<HeadlessSway> sway;
    TempDir serviceDir;
    std::optional<Process> service;
    fs::path keysFile;
    std::string url;

    void SetUp() override {
        if (chromiumPath().empty()) GTEST_SKIP() << "chromium is not installed";
        ASSERT_NO_FATAL_FAILURE(startSway("bindsym Mod1+Shift+g exec " + std::string(QUILLANT_EXE) + " trigger\n"));
        // The service runs as sway's user, as quillant does: plain http on
        // loopback reaches only a port of one's own user.
        ::chmod(serviceDir.path().c_str(), 0711);
        const fs::path own = serviceDir / "service";
        fs::create_directories(own);
        sway->giveToUser(own);
        keysFile = own / "keys";
        ASSERT_EQ(sway->runClient({QUILLANT_SERVICE_EXE, "--keys-file", keysFile.string(), "--add-key"}).status, 0);
        const int port = unusedLoopbackPort();
        url = "http://127.0.0.1:" + std::to_string(port);
        service = sway->startClient({QUILLANT_SERVICE_EXE, "--keys-file", keysFile.string(), "--port", std::to_string(port)});
        copyKeys();
    }

    // A sway of the test's own, with the service's key in its user's home.
    void startSway(const std::string& config) {
        sway = std::make_unique<HeadlessSway>(config);
        ASSERT_TRUE(sway->ready()) << sway->failure();
        if (!keysFile.empty()) copyKeys();
    }

    void copyKeys() {
        fs::copy_file(keysFile, sway->home() / "keys", fs::copy_options::overwrite_existing);
        sway->giveToUser(sway->home() / "keys");
    }

    // The key set through standard input, as the user does it, once the
    // service answers (so that the agent's start-up check succeeds).
    void setKey() {
        const auto set = sway->runClient({"/bin/sh", "-c", "tail -n 1 \"$0\" | \"$1\" key set",
                                          (sway->home() / "keys").string(), QUILLANT_EXE},
                                         quillantEnv());
        ASSERT_EQ(set.status, 0) << set.err;
        bool connected = false;
        for (int i = 0; i < 100 && !connected; ++i) {
            connected = sway->runClient({QUILLANT_EXE, "key", "status"}, quillantEnv()).status == 0;
            if (!connected) std::this_thread::sleep_for(100ms);
        }
        ASSERT_TRUE(connected) << "the local service did not come up";
    }

    std::vector<std::string> quillantEnv() const {
        return {"QUILLANT_SERVICE_URL=" + url, "QUILLANT_LOG=stderr",
                "XDG_CONFIG_HOME=" + (sway->home() / "config").string(),
                // No session bus: the tray and portals are not what this test is about.
                "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (sway->home() / "no-bus").string()};
    }

    // The user's clipboard, owned by wl-copy (which offers text under several
    // types), once it is there.
    Process ownUserClipboard() const {
        const fs::path clip = sway->home() / "clip.txt";
        writeFile(clip, kUserClipboard);
        sway->giveToUser(clip);
        Process owner = sway->startClient(
            {"/bin/sh", "-c", "exec wl-copy --foreground --type 'text/plain;charset=utf-8' < \"$0\"", clip.string()});
        for (int i = 0; i < 100 && clipboardContents().empty(); ++i) std::this_thread::sleep_for(100ms);
        return owner;
    }

    // The editor page in Chromium, on Chromium's "wayland" or "x11" platform.
    Process openPage(const std::string& platform, const std::vector<std::string>& extraEnv = {}) const {
        const fs::path page = sway->home() / "page.html";
        writeFile(page, editorPage(true));
        sway->giveToUser(page);
        return sway->startClient({chromiumPath(), "--ozone-platform=" + platform, "--no-sandbox", "--disable-gpu",
                                  "--no-first-run", "--disable-background-networking", "--disable-component-update",
                                  "--disable-sync", "--disable-breakpad", "--password-store=basic",
                                  "--user-data-dir=" + (sway->home() / "profile").string(), "file://" + page.string()},
                                 extraEnv);
    }

    // Every view in sway's tree, X11 ones too (they have no app_id).
    std::vector<nlohmann::json> views() const {
        const auto tree = sway->runClient({"swaymsg", "-r", "-t", "get_tree"});
        std::vector<nlohmann::json> out;
        std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& node) {
            if (!node.is_object()) return;
            if (node.contains("pid")) out.push_back(node);
            for (const char* children : {"nodes", "floating_nodes"})
                if (node.contains(children))
                    for (const auto& child : node[children]) walk(child);
        };
        walk(nlohmann::json::parse(tree.out, nullptr, false));
        return out;
    }
    // The app_id of the window that has the focus.
    std::string focusedAppId() const {
        for (const auto& view : views())
            if (view.value("focused", false) && view.contains("app_id") && view["app_id"].is_string())
                return view["app_id"].get<std::string>();
        return {};
    }
    // Waits until the title of a view matches `pattern`.
    bool waitForViewTitle(const std::string& pattern, std::chrono::milliseconds bound) const {
        const std::regex wanted(pattern);
        const auto deadline = std::chrono::steady_clock::now() + bound;
        do {
            for (const auto& view : views())
                if (view.contains("name") && view["name"].is_string() &&
                    std::regex_search(view["name"].get<std::string>(), wanted))
                    return true;
            std::this_thread::sleep_for(100ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
    std::string viewTitles() const {
        std::string out;
        for (const auto& view : views()) out += view.value("name", std::string("?")) + "; ";
        return out;
    }

    // quillant's clipboard keepers serving this sway.
    int keepers() const {
        int found = 0;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/proc", ec)) {
            std::ifstream cmdline(entry.path() / "cmdline"), environ(entry.path() / "environ");
            std::string command((std::istreambuf_iterator<char>(cmdline)), {});
            std::string environment((std::istreambuf_iterator<char>(environ)), {});
            if (command.find("clipboard-keeper") != std::string::npos &&
                environment.find("XDG_RUNTIME_DIR=" + sway->runtimeDir().string()) != std::string::npos)
                ++found;
        }
        return found;
    }

    // The user's clipboard as wl-paste sees it: every type with its bytes.
    std::vector<std::pair<std::string, std::string>> clipboardContents() const {
        std::vector<std::pair<std::string, std::string>> out;
        const auto list = sway->runClient({"wl-paste", "--list-types"});
        if (list.status != 0) return out;
        std::istringstream types(list.out);
        for (std::string type; std::getline(types, type);) {
            const auto bytes = sway->runClient({"wl-paste", "--no-newline", "--type", type});
            out.emplace_back(type, bytes.status == 0 ? bytes.out : "<unreadable>");
        }
        return out;
    }
};

TEST_F(SwayEndToEnd, TheBoundShortcutFixesTheSelectionInANativeWaylandWindowAndPutsTheClipboardBack) {
    ASSERT_NO_FATAL_FAILURE(setKey());

    Process quillant = sway->startClient({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, quillantEnv());
    std::vector<std::string> lines;
    ASSERT_TRUE(quillant.waitForLine("quillant started", 60s, &lines)) << ::testing::PrintToString(lines);
    const auto said = [&](const std::string& needle) {
        return std::any_of(lines.begin(), lines.end(), [&](auto& l) { return l.find(needle) != std::string::npos; });
    };
    EXPECT_TRUE(said("clipboard: Wayland zwlr_data_control_manager_v1")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(said("keystrokes: Wayland virtual keyboard")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(said("the focused application: from sway's IPC")) << ::testing::PrintToString(lines);
    // Nothing of ours hears a key here until sway's binding first runs quillant trigger.
    EXPECT_TRUE(said("quillant started; hotkey Alt+Shift+G not armed (this session has no global hotkey)"))
        << ::testing::PrintToString(lines);
    ASSERT_TRUE(quillant.waitForLine("token validated", 60s, &lines)) << ::testing::PrintToString(lines);

    Process owner = ownUserClipboard();
    const auto before = clipboardContents();
    ASSERT_FALSE(before.empty()) << "wl-copy did not take the clipboard";
    Process browser = openPage("wayland");
    ASSERT_TRUE(sway->waitForTitle("^ready", 90s)) << "the page did not load: "
                                                  << ::testing::PrintToString(sway->windows());

    // Alt+Shift+G from a virtual keyboard: sway's binding runs quillant trigger.
    const auto press = sway->runClient({"wtype", "-M", "alt", "-M", "shift", "g", "-m", "shift", "-m", "alt"});
    ASSERT_EQ(press.status, 0) << press.err;
    ASSERT_TRUE(quillant.waitForLine("hotkey press handed over by quillant trigger", 30s, &lines))
        << ::testing::PrintToString(lines);
    ASSERT_TRUE(quillant.waitForLine("paste committed; clipboard restored", 60s, &lines))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(said("hotkey armed: Alt+Shift+G")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(sway->waitForTitle("^v:The cat sat\\.( - Chromium)?$", 20s))
        << "the correction was not pasted: " << ::testing::PrintToString(sway->windows());

    // Every type back, byte for byte.
    EXPECT_EQ(clipboardContents(), before);
    EXPECT_TRUE(quillant.running());

    // Alt and Shift held on well after the press: sway keeps each keyboard's
    // modifiers apart, so our Ctrl+C and Ctrl+V still carry only Control.
    ASSERT_EQ(sway->runClient({"wtype", "-M", "ctrl", "a", "-m", "ctrl", "teh dog sat .", "-M", "ctrl", "a", "-m",
                               "ctrl"})
                  .status,
              0);
    ASSERT_TRUE(sway->waitForTitle("^v:teh dog sat \\.", 20s)) << ::testing::PrintToString(sway->windows());
    const auto held = sway->runClient(
        {"wtype", "-M", "alt", "-M", "shift", "g", "-s", "1500", "-m", "shift", "-m", "alt"});
    ASSERT_EQ(held.status, 0) << held.err;
    ASSERT_TRUE(quillant.waitForLine("paste committed; clipboard restored", 60s, &lines))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(sway->waitForTitle("^v:The dog sat\\.( - Chromium)?$", 20s))
        << "the correction was not pasted: " << ::testing::PrintToString(sway->windows());
    EXPECT_EQ(clipboardContents(), before);

    // Quitting hands what quillant holds to its keeper: the clipboard stays.
    quillant.signal(SIGTERM);
    EXPECT_TRUE(quillant.waitForLine("handed the clipboard to quillant's clipboard keeper", 30s, &lines))
        << ::testing::PrintToString(lines);
    const int status = quillant.wait(30s);
    EXPECT_EQ(status, 0) << quillant.readAll(5s);
    EXPECT_EQ(clipboardContents(), before);
    // The keeper holds no lock of the agent's: the next start runs.
    Process next = sway->startClient({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, quillantEnv());
    EXPECT_TRUE(next.waitForLine("quillant started", 60s));
    next.terminate();
    // The next copy replaces the kept clipboard, and the keeper ends.
    // (wl-copy stays behind to serve; it lets go of our pipes so that we need not wait for it.)
    const auto copied = sway->runClient({"/bin/sh", "-c", "wl-copy replaced </dev/null >/dev/null 2>&1"});
    EXPECT_EQ(copied.status, 0);
    bool keeperGone = false;
    for (int i = 0; i < 100 && !keeperGone; ++i) {
        keeperGone = keepers() == 0;
        if (!keeperGone) std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(keeperGone);
    EXPECT_EQ(sway->runClient({"wl-paste", "--no-newline"}).out, "replaced");
}

// A native Wayland terminal: sway's tree says foot has the focus, so the press
// is refused before any key goes out, and the terminal's job runs on (a
// Ctrl+C would have ended it; any other key would show in what it read).
TEST_F(SwayEndToEnd, InAFootTerminalTheShortcutIsRefusedAndItsJobRunsOn) {
    if (!fs::exists("/usr/bin/foot")) GTEST_SKIP() << "foot is not installed";
    ASSERT_NO_FATAL_FAILURE(setKey());
    Process quillant = sway->startClient({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, quillantEnv());
    std::vector<std::string> lines;
    ASSERT_TRUE(quillant.waitForLine("quillant started", 60s, &lines)) << ::testing::PrintToString(lines);

    const fs::path pidFile = sway->home() / "job.pid", typed = sway->home() / "typed";
    Process terminal = sway->startClient(
        {"foot", "/bin/sh", "-c",
         "stty -icanon -echo; echo $$ > \"$0\"; echo 'teh cat sat'; exec dd bs=1 of=\"$1\" 2>/dev/null",
         pidFile.string(), typed.string()});
    const auto job = readPidFile(pidFile, 30s);
    ASSERT_TRUE(job) << "foot did not start its job: " << ::testing::PrintToString(sway->windows());
    bool focused = false;
    for (int i = 0; i < 100 && !focused; ++i) {
        focused = focusedAppId() == "foot";
        if (!focused) std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(focused) << ::testing::PrintToString(sway->windows());

    const auto press = sway->runClient({"wtype", "-M", "alt", "-M", "shift", "g", "-m", "shift", "-m", "alt"});
    ASSERT_EQ(press.status, 0) << press.err;
    ASSERT_TRUE(quillant.waitForLine("terminals are refused unless opted in", 30s, &lines))
        << ::testing::PrintToString(lines);
    std::this_thread::sleep_for(500ms);  // an interrupt would have ended the job by now
    EXPECT_TRUE(processRunning(*job)) << "the terminal's foreground job ended";
    std::ifstream in(typed, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "") << "keys reached the terminal's job";
    for (const auto& line : lines) EXPECT_EQ(line.find("copy failed"), std::string::npos) << line;
    EXPECT_TRUE(quillant.running());
    terminal.terminate();
}

// sway with XWayland, as it comes by default: an X11 window (Chromium on X11)
// has the focus. quillant, which sees both displays, hears the hotkey through
// its key grab on XWayland, sends the keys through the compositor's virtual
// keyboard (ending the grab first, or the grab would take them), and reads and
// restores the clipboard through data-control; XWayland carries the keys and
// the clipboard over to the X11 window.
TEST_F(SwayEndToEnd, WithXWaylandAnX11WindowIsFixedThroughTheGrabAndTheClipboardComesBack) {
    if (!fs::exists("/usr/bin/Xwayland")) GTEST_SKIP() << "xwayland is not installed";
    ASSERT_NO_FATAL_FAILURE(startSway("xwayland enable\nexec sh -c 'printf %s \"$DISPLAY\" > \"$HOME/display.tmp\" && "
                                      "mv \"$HOME/display.tmp\" \"$HOME/display\"'\n"));
    std::string display;
    for (int i = 0; i < 100 && display.empty(); ++i) {
        std::ifstream in(sway->home() / "display");
        std::getline(in, display);
        if (display.empty()) std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(display.empty()) << "sway gave its clients no DISPLAY";
    ASSERT_NO_FATAL_FAILURE(setKey());
    auto env = quillantEnv();
    env.push_back("DISPLAY=" + display);
    Process quillant = sway->startClient({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, env);
    std::vector<std::string> lines;
    ASSERT_TRUE(quillant.waitForLine("token validated", 60s, &lines)) << ::testing::PrintToString(lines);
    const auto said = [&](const std::string& needle) {
        return std::any_of(lines.begin(), lines.end(), [&](auto& l) { return l.find(needle) != std::string::npos; });
    };
    EXPECT_TRUE(said("clipboard: Wayland zwlr_data_control_manager_v1")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(said("keystrokes: Wayland virtual keyboard")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(said("hotkey Alt+Shift+G armed")) << ::testing::PrintToString(lines);

    Process owner = ownUserClipboard();
    const auto before = clipboardContents();
    ASSERT_FALSE(before.empty()) << "wl-copy did not take the clipboard";
    Process browser = openPage("x11", {"DISPLAY=" + display});
    ASSERT_TRUE(waitForViewTitle("^ready", 90s)) << "the page did not load: " << viewTitles();

    // No binding in sway: the keys reach the X11 window, and so quillant's grab.
    // Every wtype brings a keymap of its own, made of the keys it types; XWayland
    // takes it with its first key, which a grab on the old keymap's keycodes can
    // miss (quillant grabs again on the change). A user's keyboard and quillant's
    // share one keymap; here Alt+G, which types nothing and fires nothing, first
    // brings in the keymap of the press that follows.
    const auto press = [&](const std::vector<std::string>& keys) {
        ASSERT_EQ(sway->runClient({"wtype", "-M", "alt", "g", "-m", "alt"}).status, 0);
        quillant.waitForLine("hotkey(s) grabbed again", 3s, &lines);
        std::this_thread::sleep_for(300ms);
        ASSERT_EQ(sway->runClient(keys).status, 0);
    };
    const std::vector<std::string> hotkey{"wtype", "-M", "alt", "-M", "shift", "g", "-m", "shift", "-m", "alt"};
    ASSERT_NO_FATAL_FAILURE(press(hotkey));
    ASSERT_TRUE(quillant.waitForLine("paste committed; clipboard restored", 60s, &lines))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(waitForViewTitle("^v:The cat sat\\.( - Chromium)?$", 20s))
        << "the correction was not pasted: " << viewTitles();
    EXPECT_EQ(clipboardContents(), before);

    // G held down through the fix: the grab is active then, and would take our
    // Ctrl+C and Ctrl+V from the X11 window if quillant did not end it first.
    ASSERT_EQ(sway->runClient({"wtype", "-M", "ctrl", "a", "-m", "ctrl", "teh dog sat .", "-M", "ctrl", "a", "-m",
                               "ctrl"})
                  .status,
              0);
    ASSERT_TRUE(waitForViewTitle("^v:teh dog sat \\.", 20s)) << viewTitles();
    ASSERT_NO_FATAL_FAILURE(
        press({"wtype", "-M", "alt", "-M", "shift", "-P", "g", "-s", "1500", "-p", "g", "-m", "shift", "-m", "alt"}));
    ASSERT_TRUE(quillant.waitForLine("paste committed; clipboard restored", 60s, &lines))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(waitForViewTitle("^v:The dog sat\\.( - Chromium)?$", 20s))
        << "the correction was not pasted: " << viewTitles();
    EXPECT_EQ(clipboardContents(), before);
    EXPECT_TRUE(quillant.running());
}

}  // namespace
