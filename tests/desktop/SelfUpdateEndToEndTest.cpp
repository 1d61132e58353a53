// The self-update as a user meets it: version A installed from a release
// archive into a temporary home, a local service announcing version B and
// serving its archive and signature (over a private socket, signed with this
// build tree's test key), the panel's "Install" clicked with xdotool on a real
// X server, and B running from the same folder afterwards; or, when the
// signature is missing, wrong or by another key, A running on untouched.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "hotkey/ModifierFlags.h"
#include "platform/linux/PosixProcess.h"
#include "platform/linux/x11/X11HotKeyService.h"
#include "runtime/Logger.h"
#include "testsupport/Process.h"
#include "testsupport/RecordingLogger.h"
#include "testsupport/ReleaseKey.h"
#include "testsupport/SocketForwarder.h"
#include "testsupport/TempDir.h"
#include "testsupport/X11TestHarness.h"

using namespace quillant;
using namespace quillant::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using linux_platform::runAndWait;

namespace {

const fs::path kSource = QUILLANT_SOURCE_DIR;
const fs::path kBinary = QUILLANT_EXE;
constexpr const char* kKey = "ql_e2e_0123456789abcdef";
// Alt+Shift+H, saved as the user's own choice (H is key code 4).
constexpr std::uint32_t kKeyH = 4;
constexpr std::uint32_t kAltShift = hotkey::carbon::optionKey | hotkey::carbon::shiftKey;

int sh(const std::string& script, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv{"-c", script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runAndWait("/bin/sh", argv);
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// The processes that run `program`.
std::vector<pid_t> processesOf(const fs::path& program) {
    std::vector<pid_t> out;
    for (auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ec;
        auto exe = fs::read_symlink(e.path() / "exe", ec);
        if (!ec && exe == program) out.push_back(pid_t(std::stoi(name)));
    }
    return out;
}

// A snapshot of a folder: every path with its bytes.
std::map<std::string, std::string> contents(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root))
        out[fs::relative(e.path(), root).string()] = e.is_regular_file() ? readFile(e.path()) : "<dir>";
    return out;
}

// The service: /v1/version announces B, /v1/validate accepts the key, and the
// archive is served from here too.
struct Service {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::string archivePath = "/quillant-B.zip";
    std::string downloadBase;  // where the archive is announced: the private socket
    std::string archive;
    std::optional<std::string> signature;
    std::atomic<int> downloads{0};

    Service() {
        server.Get("/v1/version", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"version":"99.0.0","download_url":")" + downloadBase + archivePath + R"("})",
                            "application/json");
        });
        server.Get("/v1/validate", [](const httplib::Request& req, httplib::Response& res) {
            const bool ok = req.get_header_value("Authorization") == std::string("Bearer ") + kKey;
            res.status = ok ? 200 : 401;
            res.set_content(ok ? R"({"valid":true})" : R"({"error":"invalid_key","message":"no"})",
                            "application/json");
        });
        server.Get(".*\\.zip\\.sig", [this](const httplib::Request&, httplib::Response& res) {
            if (!signature) {
                res.status = 404;
                return;
            }
            res.set_content(*signature, "text/plain");
        });
        server.Get(".*\\.zip", [this](const httplib::Request&, httplib::Response& res) {
            ++downloads;
            res.set_content(archive, "application/zip");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~Service() {
        server.stop();
        thread.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port); }
};

class SelfUpdate : public ::testing::Test {
protected:
    Xvfb xvfb;
    TempDir root;
    Service service;
    fs::path home = root.path() / "home";
    fs::path dest = home / ".local/opt/quillant";
    fs::path program = dest / "bin/quillant";
    fs::path logFile = root.path() / "a.log";
    std::vector<std::string> env;
    std::optional<Process> a;
    std::unique_ptr<SocketForwarder> downloads;
    std::optional<ReleaseKey> key;

    void SetUp() override {
        if (std::string(QUILLANT_UPDATE_TEST_SECRET_KEY).empty())
            GTEST_SKIP() << "this build trusts a release key of its own (QUILLANT_UPDATE_PUBLIC_KEY); no test key";
        key = ReleaseKey::load(QUILLANT_UPDATE_TEST_SECRET_KEY);
        fs::create_directories(home);
        env = xvfb.env();
        env.push_back("HOME=" + home.string());
        env.push_back("QUILLANT_SERVICE_URL=" + service.url());
        env.push_back("QUILLANT_LOG=stderr");
        env.push_back("XDG_RUNTIME_DIR=" + (root.path() / "run").string());
        fs::create_directories(root.path() / "run");
        fs::permissions(root.path() / "run", fs::perms::owner_all, fs::perm_options::replace);
        downloads = std::make_unique<SocketForwarder>(root.path() / "run/downloads.sock", service.port);
        service.downloadBase = downloads->baseURL();
        env.push_back("TMPDIR=" + (root.path() / "tmp").string());
        fs::create_directories(root.path() / "tmp");

        // A: the release archive of this build, installed as a user would.
        ASSERT_EQ(sh("SOURCE_DATE_EPOCH=1700000000 \"$1\"/scripts/make-bundle --zip \"$2\" \"$3\" >/dev/null",
                     {kSource.string(), kBinary.string(), (root.path() / "A").string()}),
                  0);
        ASSERT_EQ(sh("cd \"$1\" && unzip -q A/quillant-*.zip -d download && HOME=\"$2\" download/quillant.app/install.sh "
                     ">/dev/null 2>&1",
                     {root.path().string(), home.string()}),
                  0);
        // B: the same program as the release the service announces, told apart by a file of its own.
        service.archive = makeB("99.0.0");
        service.signature = key->sign(service.archive);

        // The user's key and hotkey.
        ASSERT_EQ(sh("printf '%s' \"$3\" | HOME=\"$1\" \"$2\" key set >/dev/null 2>&1",
                     {home.string(), program.string(), kKey}),
                  0);
        writeFile(home / ".config/quillant/settings.json",
                  R"({"hotkey.binding.v1":{"keyCode":4,"modifiers":2560}})");
    }

    void TearDown() override {
        for (const auto& p : {program, dest / "bin/quillant-service"})
            for (pid_t pid : processesOf(p)) ::kill(pid, SIGTERM);
        waitFor([&] { return processesOf(program).empty(); }, 10s);
    }

    // B's archive, saying it is `version`.
    std::string makeB(const std::string& version) {
        fs::remove_all(root.path() / "B");
        fs::remove(root.path() / "B.zip");
        EXPECT_EQ(sh("cd \"$1\" && mkdir -p B && cd B && unzip -q ../A/quillant-*.zip && "
                     "echo B > quillant.app/share/quillant/build && printf B >> quillant.app/bin/quillant-service && "
                     "echo \"$2\" > quillant.app/VERSION && zip -qrX ../B.zip quillant.app",
                     {root.path().string(), version}),
                  0);
        return readFile(root.path() / "B.zip");
    }

    // Starts A with its log in a file.
    void startA() {
        ProcessOptions options;
        options.env = env;
        options.dropFromEnvironment = {"HOME=", "QUILLANT_", "DISPLAY=", "XDG_", "TMPDIR="};
        options.errors = ProcessOptions::Errors::toFile;
        options.errorsFile = logFile.string();
        a = Process::startWith({program.string()}, options);
        ASSERT_TRUE(waitFor([&] { return readFile(logFile).find("update available: 99.0.0") != std::string::npos; },
                            30s))
            << readFile(logFile);
    }

    // Whether someone on the display holds the user's hotkey.
    bool hotkeyIsHeld() {
        RecordingLogger logs;
        linux_platform::X11HotKeyService probe(logs, xvfb.display());
        auto registration = probe.registerEventHotKey(kKeyH, kAltShift, {0x70726f62, 1});
        if (registration.status == hotkey::noErr && registration.handle) probe.unregisterEventHotKey(*registration.handle);
        return registration.status != hotkey::noErr;
    }

    // Opens A's panel (a second start asks the running one) and clicks Install.
    void clickInstall();

    // Install is clicked and refused with `logged`: A runs on, its folder byte for byte as before.
    void expectRefused(const std::string& logged) {
        const auto before = contents(dest);
        startA();
        clickInstall();
        ASSERT_TRUE(waitFor([&] { return readFile(logFile).find("update failed: " + logged) != std::string::npos; }, 30s))
            << readFile(logFile);
        EXPECT_TRUE(a->running());
        EXPECT_EQ(contents(dest), before);
        EXPECT_TRUE(hotkeyIsHeld());
        EXPECT_EQ(readFile(logFile).find("update installer launched"), std::string::npos);
    }
};

void SelfUpdate::clickInstall() {
    ProcessOptions options;
    options.env = env;
    options.dropFromEnvironment = {"HOME=", "QUILLANT_", "DISPLAY=", "XDG_", "TMPDIR="};
    auto second = runProgram({program.string()}, options, 20s);
    ASSERT_EQ(second.status, 0) << second.err;
    // The panel: a visible top-level window of ours; its banner's button sits at the top right.
    const std::string geometry = (root.path() / "geometry").string();
    ASSERT_TRUE(waitFor([&] {
        return sh("DISPLAY=\"$1\" xdotool search --onlyvisible --class quillant getwindowgeometry --shell "
                  "> \"$2\" 2>/dev/null && grep -q WIDTH \"$2\"",
                  {xvfb.display(), geometry}) == 0;
    }, 10s));
    std::map<std::string, int> g;
    std::istringstream in(readFile(geometry));
    for (std::string line; std::getline(in, line);) {
        auto eq = line.find('=');
        if (eq != std::string::npos && line.substr(0, eq) != "WINDOW") g[line.substr(0, eq)] = std::stoi(line.substr(eq + 1));
    }
    const int x = g["X"] + g["WIDTH"] - 50, y = g["Y"] + 30;
    ASSERT_EQ(sh("DISPLAY=\"$1\" xdotool mousemove \"$2\" \"$3\" click 1",
                 {xvfb.display(), std::to_string(x), std::to_string(y)}),
              0);
}

}  // namespace

TEST_F(SelfUpdate, InstallReplacesAWithBWhichStartsWithTheUsersKeyAndHotkey) {
    const std::string token = readFile(home / ".config/quillant/token");
    const std::string settings = readFile(home / ".config/quillant/settings.json");
    const std::string serviceA = readFile(dest / "bin/quillant-service");
    // A's corrector serves while the update comes in.
    writeFile(root.path() / "service-keys", "");
    ProcessOptions quiet;
    quiet.errors = ProcessOptions::Errors::toFile;
    quiet.errorsFile = (root.path() / "service.log").string();
    auto correctorA = Process::startWith({(dest / "bin/quillant-service").string(), "--socket",
                                          (root.path() / "run/quillant/service.sock").string(), "--keys-file",
                                          (root.path() / "service-keys").string()},
                                         quiet);
    startA();
    ASSERT_TRUE(waitFor([&] { return hotkeyIsHeld(); }, 10s));
    const pid_t aPid = a->pid();
    ASSERT_TRUE(correctorA.running()) << readFile(root.path() / "service.log");

    clickInstall();

    EXPECT_EQ(a->wait(30s), 0) << readFile(logFile);
    EXPECT_NE(readFile(logFile).find("update installer launched; quitting for replacement"), std::string::npos);
    // B runs from the same folder and holds the user's hotkey again.
    ASSERT_TRUE(waitFor([&] { auto p = processesOf(program); return !p.empty() && p[0] != aPid; }, 30s));
    EXPECT_EQ(readFile(dest / "share/quillant/build"), "B\n");
    // Both programs are B's, and A's corrector went with A's folder.
    EXPECT_EQ(readFile(dest / "bin/quillant-service"), serviceA + "B");
    EXPECT_TRUE(waitFor([&] { return !correctorA.running(); }, 10s)) << readFile(root.path() / "service.log");
    EXPECT_TRUE(fs::exists(dest / ".quillant-bundle"));
    EXPECT_TRUE(waitFor([&] { return hotkeyIsHeld(); }, 20s));
    EXPECT_EQ(readFile(home / ".config/quillant/token"), token);
    EXPECT_EQ(readFile(home / ".config/quillant/settings.json"), settings);
    // The work folder went with the hand-over.
    EXPECT_TRUE(waitFor([&] {
        for (auto& e : fs::directory_iterator(root.path() / "tmp"))
            if (e.path().filename().string().rfind("quillant-update-", 0) == 0) return false;
        return true;
    }, 10s));
}

TEST_F(SelfUpdate, ABrokenArchiveLeavesARunningAndIntact) {
    service.archive = "<html><body>Bad gateway</body></html>";
    service.signature = key->sign(service.archive);
    expectRefused("unzipFailed");
}

TEST_F(SelfUpdate, AnUnsignedArchiveLeavesARunningAndIntact) {
    service.signature.reset();
    expectRefused("bad signature: none at");
}

TEST_F(SelfUpdate, ASignatureOfOtherBytesLeavesARunningAndIntact) {
    service.signature = key->sign(service.archive + "tampered");
    expectRefused("bad signature: the signature does not match the archive");
}

TEST_F(SelfUpdate, ASignatureByAnotherKeyLeavesARunningAndIntact) {
    service.signature = ReleaseKey::make(root.path() / "other.pem").sign(service.archive);
    expectRefused("bad signature: the signature is by another key");
}

// An old release keeps its good signature: offered again, it is not installed.
TEST_F(SelfUpdate, AnOlderSignedReleaseLeavesARunningAndIntact) {
    service.archive = makeB("0.0.9");
    service.signature = key->sign(service.archive);
    expectRefused("the update's version 0.0.9 is not newer than the running 0.1.0");
}
