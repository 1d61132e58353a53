// The single-instance channel on real sockets and a real temporary runtime folder.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/linux/InstanceChannel.h"
#include "platform/linux/PrivateRuntimeDir.h"
#include "testsupport/Process.h"
#include "testsupport/TempDir.h"
#include "testsupport/X11TestHarness.h"

using namespace quillant::linux_platform;
using quillant::testing::TempDir;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

mode_t modeOf(const fs::path& path) {
    struct stat info{};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Serves requests on the calling thread until `stop`, answering with `handler`.
void serveUntil(InstanceServer& server, const std::atomic<bool>& stop, const InstanceServer::Handler& handler) {
    while (!stop) {
        server.processPending(handler);
        std::this_thread::sleep_for(2ms);
    }
}

}  // namespace

TEST(RuntimeFolder, IsCreatedPrivateAndUsedOnlyWhenPrivate) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& folder)> prepare;
        bool usable;
        const char* says;
    };
    const Case cases[] = {
        {"missing: created", [](const fs::path&) {}, true, ""},
        {"already private", [](const fs::path& f) { fs::create_directory(f), ::chmod(f.c_str(), 0700); }, true, ""},
        {"open to the group", [](const fs::path& f) { fs::create_directory(f), ::chmod(f.c_str(), 0750); }, false,
         "mode 0750"},
        {"open to all", [](const fs::path& f) { fs::create_directory(f), ::chmod(f.c_str(), 0777); }, false,
         "chmod 700"},
        {"a symlink to a private folder",
         [](const fs::path& f) {
             fs::create_directory(f.string() + "-real");
             ::chmod((f.string() + "-real").c_str(), 0700);
             fs::create_directory_symlink(f.string() + "-real", f);
         },
         false, "is a symbolic link"},
        {"a file", [](const fs::path& f) { std::FILE* file = std::fopen(f.c_str(), "w"); std::fclose(file); }, false,
         "is not a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir runtime;
        const fs::path folder = runtime.path() / "quillant";
        c.prepare(folder);
        const auto before = fs::exists(fs::symlink_status(folder)) ? modeOf(folder) : 0;
        const RuntimeFolder got = privateRuntimeFolder(runtime.path().c_str());
        EXPECT_EQ(got.path.has_value(), c.usable) << got.error;
        if (c.usable) {
            EXPECT_EQ(*got.path, folder);
            EXPECT_EQ(modeOf(folder), 0700u);
        } else {
            EXPECT_NE(got.error.find(c.says), std::string::npos) << got.error;
            EXPECT_EQ(modeOf(folder), before) << "never changed";
        }
    }
}

TEST(RuntimeFolder, AFolderOfAnotherUserIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
    TempDir runtime;
    const fs::path folder = runtime.path() / "quillant";
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0700);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    const RuntimeFolder got = privateRuntimeFolder(runtime.path().c_str());
    EXPECT_FALSE(got.path);
    EXPECT_NE(got.error.find("belongs to another user (uid 65534)"), std::string::npos) << got.error;
    // The folder it stands in is ours: moving it aside is something the user can do.
    EXPECT_NE(got.error.find("move it aside with mv"), std::string::npos) << got.error;
}

// Without a runtime directory: the login manager's where it exists, else one in
// the user's cache folder, never /tmp/quillant-UID, which another user can make
// first (here: nobody does, for real) and which then only they could remove.
TEST(RuntimeFolder, WithoutARuntimeDirectoryNoOtherUserCanTakeTheFolder) {
    const std::string uid = std::to_string(::geteuid());
    const fs::path squat = fs::path("/tmp") / ("quillant-" + uid);
    bool squatted = false;
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to squat as another user";
    } else if (!fs::exists(fs::symlink_status(squat))) {
        ASSERT_EQ(quillant::testing::runProgram({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                                 "mkdir", "-m", "0700", squat.string()},
                                                {}).status,
                  0);
        squatted = true;
    }
    TempDir home;
    const char* savedHome = std::getenv("HOME");
    const std::string keep = savedHome ? savedHome : "";
    ::setenv("HOME", home.path().c_str(), 1);
    const fs::path expected = fs::is_directory(fs::symlink_status("/run/user/" + uid))
                                  ? fs::path("/run/user") / uid / "quillant"
                                  : home.path() / ".cache/quillant-runtime";
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
        const RuntimeFolder got = privateRuntimeFolder(value);
        ASSERT_TRUE(got.path) << got.error;
        EXPECT_EQ(*got.path, expected);
        EXPECT_EQ(modeOf(expected), 0700u);
        EXPECT_EQ(localServiceSocket(value), expected / "service.sock");
    }
    if (savedHome) ::setenv("HOME", keep.c_str(), 1);
    else ::unsetenv("HOME");
    if (squatted) fs::remove(squat);
}

// Where the folder stands in a place open to all (a runtime directory set to
// /tmp, say), "remove it" could not be done; the advice is one that can.
TEST(RuntimeFolder, ASquatInAFolderOpenToAllGetsAdviceTheUserCanFollow) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to squat as another user";
    TempDir root;
    ::chmod(root.path().c_str(), 0711);
    const fs::path shared = root.path() / "shared";
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    ASSERT_EQ(quillant::testing::runProgram({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "mkdir",
                                             "-m", "0700", (shared / "quillant").string()},
                                            {}).status,
              0);
    const RuntimeFolder got = privateRuntimeFolder(shared.c_str());
    EXPECT_FALSE(got.path);
    EXPECT_NE(got.error.find("set XDG_RUNTIME_DIR to a folder of your own"), std::string::npos) << got.error;
    EXPECT_EQ(got.error.find("remove it"), std::string::npos) << got.error;
}

TEST(InstanceChannel, OneInstanceHoldsTheFolderUntilItEnds) {
    TempDir folder;
    std::string error;
    auto first = InstanceServer::claim(folder.path(), "agent-0", error);
    ASSERT_TRUE(first) << error;
    EXPECT_EQ(modeOf(first->socketPath()) & 0777, 0600u);
    EXPECT_TRUE(instanceRunning(folder.path(), "agent-0"));
    EXPECT_FALSE(InstanceServer::claim(folder.path(), "agent-0", error));
    EXPECT_TRUE(error.empty()) << "a running instance is no failure: " << error;
    first.reset();
    EXPECT_FALSE(instanceRunning(folder.path(), "agent-0"));
    EXPECT_FALSE(fs::exists(socketPath(folder.path(), "agent-0")));

    // A socket file a crashed instance left behind does not stop the next one.
    std::FILE* stale = std::fopen((socketPath(folder.path(), "agent-0")).c_str(), "w");
    std::fclose(stale);
    auto next = InstanceServer::claim(folder.path(), "agent-0", error);
    ASSERT_TRUE(next) << error;
    std::atomic<bool> stop{false};
    std::thread serving([&] { serveUntil(*next, stop, [](auto&, auto&) { return std::string("ok"); }); });
    auto answer = sendToInstance(folder.path(), "agent-0", "ping", std::nullopt, 5s, error);
    stop = true;
    serving.join();
    EXPECT_EQ(answer, "ok");
}

// `quillant trigger`, `key set` and `key clear` probe the lock; a start that
// meets a probe still becomes the instance. (Probers in a tight loop, for real.)
TEST(InstanceChannel, AProbeNeverDefeatsAStart) {
    TempDir folder;
    std::atomic<bool> stop{false};
    std::vector<std::thread> probers;
    for (int i = 0; i < 3; ++i)
        probers.emplace_back([&] {
            while (!stop) instanceRunning(folder.path(), "agent-0");
        });
    int claimed = 0;
    std::string error;
    for (int i = 0; i < 40; ++i)
        if (InstanceServer::claim(folder.path(), "agent-0", error)) ++claimed;
    stop = true;
    for (auto& t : probers) t.join();
    EXPECT_EQ(claimed, 40) << error;
}

TEST(InstanceChannel, EachDisplayHasItsOwnInstance) {
    struct Case {
        const char* display;
        const char* name;
    };
    const Case cases[] = {{":0", "agent-0"}, {":99.0", "agent-99.0"}, {"host:1", "agent-host_1"},
                          {"/tmp/launch-x/org.x:0", "agent-_tmp_launch-x_org.x_0"}, {"", "agent"}};
    for (const auto& c : cases) EXPECT_EQ(instanceName(c.display), c.name) << c.display;

    TempDir folder;
    std::string error;
    auto zero = InstanceServer::claim(folder.path(), "agent-0", error);
    auto one = InstanceServer::claim(folder.path(), "agent-1", error);
    ASSERT_TRUE(zero && one) << error;
    EXPECT_EQ(runningInstances(folder.path()), (std::vector<std::string>{"agent-0", "agent-1"}));
    one.reset();
    EXPECT_EQ(runningInstances(folder.path()), (std::vector<std::string>{"agent-0"}));
}

TEST(InstanceChannel, ASessionIsNamedAfterItsXDisplayElseItsWaylandDisplay) {
    struct Case {
        const char* x11;
        const char* wayland;
        const char* name;
    };
    const Case cases[] = {{":0", "", "agent-0"},
                          {":0", "wayland-1", "agent-0"},  // XWayland: the X11 agent's name, unchanged
                          {"", "wayland-1", "agent-wayland-wayland-1"},
                          {"", "/run/user/1000/wl 0", "agent-wayland-_run_user_1000_wl_0"},
                          {"", "", "agent"}};
    for (const auto& c : cases) EXPECT_EQ(sessionInstanceName(c.x11, c.wayland), c.name) << c.x11 << " " << c.wayland;
}

TEST(InstanceChannel, CarriesCommandsAndArgumentsOfAnyBytes) {
    TempDir folder;
    std::string error;
    auto server = InstanceServer::claim(folder.path(), "agent-0", error);
    ASSERT_TRUE(server) << error;
    std::vector<std::pair<std::string, std::string>> seen;
    std::atomic<bool> stop{false};
    std::thread serving([&] {
        serveUntil(*server, stop, [&](const std::string& command, const std::string& argument) {
            seen.emplace_back(command, argument);
            return command != "frobnicate" ? std::string("ok") : std::string("error unknown request\nsecond line");
        });
    });
    const std::string awkward = std::string("ql_ key with spaces %41 and\nnewline\r") + '\0' + "é";
    EXPECT_EQ(sendToInstance(folder.path(), "agent-0", "key-set", awkward, 5s, error), "ok") << error;
    EXPECT_EQ(sendToInstance(folder.path(), "agent-0", "show-panel", std::nullopt, 5s, error), "ok");
    // Answers stay one line.
    EXPECT_EQ(sendToInstance(folder.path(), "agent-0", "frobnicate", std::nullopt, 5s, error),
              "error unknown request second line");
    stop = true;
    serving.join();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], (std::pair<std::string, std::string>{"key-set", awkward}));
    EXPECT_EQ(seen[1], (std::pair<std::string, std::string>{"show-panel", ""}));
}

TEST(InstanceChannel, SendingWithoutAnInstanceFailsWithinItsBound) {
    TempDir folder;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(sendToInstance(folder.path(), "agent-0", "show-panel", std::nullopt, 300ms, error));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_NE(error.find("cannot reach"), std::string::npos) << error;
}

TEST(InstanceChannel, APeerOfAnotherUserIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    TempDir folder;
    ::chmod(folder.path().c_str(), 0755);
    std::string error;
    auto server = InstanceServer::claim(folder.path(), "agent-0", error);
    ASSERT_TRUE(server) << error;
    // Opened up on purpose, so that only the peer check stands in the way.
    ::chmod(server->socketPath().c_str(), 0666);
    int calls = 0;
    std::atomic<bool> stop{false};
    std::thread serving([&] { serveUntil(*server, stop, [&](auto&, auto&) { return ++calls, std::string("ok"); }); });

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, server->socketPath().c_str(), sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(4);
        const char request[] = "key-clear\n";
        (void)!::write(fd, request, sizeof request - 1);
        char answer[128] = {};
        const ssize_t n = ::read(fd, answer, sizeof answer - 1);
        (void)!::write(pipeFds[1], answer, n > 0 ? std::size_t(n) : 0);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char answer[128] = {};
    const ssize_t n = ::read(pipeFds[0], answer, sizeof answer - 1);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    stop = true;
    serving.join();
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(std::string(answer, n > 0 ? std::size_t(n) : 0), "error not your instance\n");
    EXPECT_EQ(calls, 0);
}
