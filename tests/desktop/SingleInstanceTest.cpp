// One quillant per session, with real processes: the agent under Xvfb, a
// second start, and the command line's key operations, in a temporary home
// and runtime folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "testsupport/Process.h"
#include "testsupport/TempDir.h"
#include "testsupport/X11TestHarness.h"

using namespace quillant::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class SingleInstance : public ::testing::Test {
protected:
    Xvfb xvfb;
    TempDir home;
    TempDir runtime;
    std::vector<std::string> env;

    void SetUp() override {
        env = xvfb.env();
        env.push_back("HOME=" + home.path().string());
        env.push_back("XDG_CONFIG_HOME=" + (home.path() / "config").string());
        env.push_back("XDG_RUNTIME_DIR=" + runtime.path().string());
        env.push_back("QUILLANT_SERVICE_URL=http://127.0.0.1:9");  // nobody answers: the key stays unverified
        env.push_back("QUILLANT_LOG=stderr");
        ::chmod(runtime.path().c_str(), 0700);
    }

    Process startAgent() { return Process::start({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, env, false, true); }
    Process run(const std::string& script) {
        return Process::start({"/bin/sh", "-c", script + " 2>&1", QUILLANT_EXE}, env, false);
    }


    fs::path tokenFile() const { return home.path() / ".config" / "quillant" / "token"; }
};


}  // namespace

TEST_F(SingleInstance, ASecondStartOpensTheRunningPanelAndEnds) {
    Process agent = startAgent();
    ASSERT_TRUE(agent.waitForLine("quillant started; hotkey Alt+Shift+G armed", 30s));
    Process second = run("\"$0\"");
    EXPECT_EQ(second.wait(30s), 0);
    EXPECT_TRUE(agent.waitForLine("panel opened for another start", 10s));
    EXPECT_TRUE(agent.running());
    // The panel is on the screen: a 300-pixel-wide window of the agent's.
    bool mapped = false;
    for (int i = 0; i < 50 && !mapped; ++i) {
        auto tree = Process::start({"xwininfo", "-root", "-tree"}, env, true);
        mapped = tree.readAll(5s).find(": (\"quillant\" \"quillant\")  300x") != std::string::npos;
        tree.wait(5s);
        if (!mapped) std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(mapped);
    agent.terminate();
}

TEST_F(SingleInstance, KeySetAndClearGoThroughTheRunningAgent) {
    Process agent = startAgent();
    ASSERT_TRUE(agent.waitForLine("status=absent", 30s));

    Process set = run("echo '  ql_through_the_agent ' | \"$0\" key set");
    EXPECT_EQ(set.wait(30s), 0);
    EXPECT_NE(set.readAll(5s).find("handed to the running quillant"), std::string::npos);
    // The agent saved it itself and started checking it: no stale key state.
    EXPECT_TRUE(agent.waitForLine("API key saved; validating with backend", 10s));
    EXPECT_EQ(readFile(tokenFile()), "ql_through_the_agent");
    struct stat info{};
    ASSERT_EQ(::stat(tokenFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    Process clear = run("\"$0\" key clear");
    EXPECT_EQ(clear.wait(30s), 0);
    EXPECT_TRUE(agent.waitForLine("API key cleared", 10s));
    EXPECT_FALSE(fs::exists(tokenFile()));
    agent.terminate();

    // Without an agent, the command line does the work itself.
    Process alone = run("echo ql_alone | \"$0\" key set");
    EXPECT_EQ(alone.wait(30s), 0);
    EXPECT_EQ(readFile(tokenFile()), "ql_alone");
}

// An agent on the local corrector keeps the key it made: an API key handed
// over by a command line that names a remote service does not replace it.
TEST_F(SingleInstance, AnAgentOnTheLocalCorrectorKeepsItsOwnKey) {
    std::vector<std::string> remote = env;
    std::erase_if(env, [](const std::string& e) { return e.starts_with("QUILLANT_SERVICE_URL="); });
    Process agent = Process::startWith({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE},
                                       ProcessOptions{env, true, {"QUILLANT_SERVICE_URL="}});
    ASSERT_TRUE(agent.waitForLine("quillant started; hotkey Alt+Shift+G armed", 30s));
    const fs::path localKey = home.path() / ".config/quillant/local-key";
    const std::string made = readFile(localKey);
    ASSERT_FALSE(made.empty());
    Process set = Process::start({"/bin/sh", "-c", "echo ql_remote | \"$0\" key set 2>&1", QUILLANT_EXE}, remote, false);
    EXPECT_EQ(set.wait(30s), 1);
    EXPECT_NE(set.readAll(5s).find("uses its local corrector, which needs no API key"), std::string::npos);
    EXPECT_EQ(readFile(localKey), made);
    agent.terminate();
    stopProcessesRunning(fs::path(QUILLANT_EXE).parent_path().parent_path() / "service/quillant-service",
                         (runtime.path() / "quillant/service.sock").string());
}

TEST_F(SingleInstance, TriggerActsInTheRunningAgentAsTheHotkeyDoes) {
    Process agent = startAgent();
    ASSERT_TRUE(agent.waitForLine("status=absent", 30s));
    // A desktop shortcut may run it with a thinner environment: the only agent is still found.
    for (const char* script : {"\"$0\" trigger", "env -u DISPLAY \"$0\" trigger"}) {
        Process trigger = run(script);
        EXPECT_EQ(trigger.wait(30s), 0) << script << ": " << trigger.readAll(5s);
        EXPECT_TRUE(agent.waitForLine("hotkey press handed over by quillant trigger", 10s)) << script;
        // The fix flow itself ran, and stopped where a hotkey press without a key stops.
        EXPECT_TRUE(agent.waitForLine("hotkey fired but no API key is set", 10s)) << script;
    }
    agent.terminate();
    agent.wait(30s);

    Process none = run("\"$0\" trigger");
    EXPECT_EQ(none.wait(30s), 1);
    EXPECT_NE(none.readAll(5s).find("quillant is not running"), std::string::npos);
}

TEST_F(SingleInstance, ARuntimeFolderOthersMayEnterIsRefused) {
    const fs::path folder = runtime.path() / "quillant";
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0755);
    Process agent = run("\"$0\"");
    EXPECT_EQ(agent.wait(30s), 1);
    EXPECT_NE(agent.readAll(5s).find("refusing to use " + folder.string()), std::string::npos);
    struct stat info{};
    ::stat(folder.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0755u) << "left as the user made it";
    for (const auto& entry : fs::directory_iterator(folder)) EXPECT_NE(entry.path().extension(), ".sock");
}

TEST_F(SingleInstance, TheHotkeyIsChangedInThePanelWithRealKeys) {
    Process set = run("echo ql_some_key | \"$0\" key set");
    const std::string said = set.readAll(30s);
    ASSERT_EQ(set.wait(30s), 0) << said;
    Process agent = startAgent();
    ASSERT_TRUE(agent.waitForLine("quillant started; hotkey Alt+Shift+G armed", 30s));
    ASSERT_TRUE(agent.waitForLine("token validation failed", 30s));  // the key section shows, unverified
    Process second = run("\"$0\"");
    ASSERT_EQ(second.wait(30s), 0);
    std::string geometry;
    for (int i = 0; i < 50 && geometry.empty(); ++i) {
        auto tree = Process::start({"xwininfo", "-root", "-tree"}, env, true);
        const std::string text = tree.readAll(5s);
        tree.wait(5s);
        const auto at = text.find(": (\"quillant\" \"quillant\")  300x");
        if (at != std::string::npos) {
            const auto start = text.find("300x", at);
            geometry = text.substr(start, text.find(' ', start) - start);
        }
        if (geometry.empty()) std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(geometry.empty());
    int w = 0, h = 0, x = 0, y = 0;
    ASSERT_EQ(std::sscanf(geometry.c_str(), "%dx%d+%d+%d", &w, &h, &x, &y), 4) << geometry;
    auto xdotool = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        auto p = Process::start(args, env, true);
        return p.wait(20s);
    };
    // Change sits at the right end of the hotkey row, the panel's first.
    const std::string changeX = std::to_string(x + 246), changeY = std::to_string(y + 20);

    ASSERT_EQ(xdotool({"mousemove", changeX, changeY, "click", "1"}), 0);
    ASSERT_EQ(xdotool({"key", "Escape"}), 0);
    EXPECT_TRUE(agent.waitForLine("hotkey re-armed: Alt+Shift+G", 10s));

    ASSERT_EQ(xdotool({"mousemove", changeX, changeY, "click", "1"}), 0);
    // Ctrl first, on its own, as a person presses it; then the rest.
    ASSERT_EQ(xdotool({"keydown", "ctrl", "sleep", "0.1", "keydown", "alt", "key", "k", "keyup", "alt", "keyup", "ctrl"}),
              0);
    EXPECT_TRUE(agent.waitForLine("hotkey updated to Ctrl+Alt+K", 10s));
    const std::string settings = readFile(home.path() / "config" / "quillant" / "settings.json");
    EXPECT_NE(settings.find("6144"), std::string::npos) << settings;
    EXPECT_NE(settings.find("40"), std::string::npos) << settings;
    agent.terminate();
}

// A saved hotkey on a key this keyboard layout lacks (Xvfb's has no F19) is
// not armed, and the reason given is that one, not another program.
TEST_F(SingleInstance, AHotkeyOnAKeyTheLayoutLacksIsSaidNotArmedForThatReason) {
    fs::create_directories(home.path() / "config/quillant");
    std::ofstream(home.path() / "config/quillant/settings.json")
        << R"({"hotkey.binding.v1":{"keyCode":80,"modifiers":2560}})";
    Process agent = startAgent();
    std::vector<std::string> lines;
    ASSERT_TRUE(agent.waitForLine("quillant started", 30s, &lines));
    std::string said;
    for (const auto& l : lines) said += l + "\n";
    EXPECT_NE(said.find("could not be armed: this keyboard layout has no such key"), std::string::npos) << said;
    EXPECT_NE(said.find("hotkey Alt+Shift+F19 not armed (this keyboard layout has no such key)"), std::string::npos)
        << said;
    agent.terminate();
}
