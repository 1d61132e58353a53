// The updater end to end: a real local HTTP server, the curl session, the
// real unzip and bash, real folders.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <thread>

#include "testsupport/CoordinatorHarness.h"
#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/PosixProcess.h"
#include "platform/linux/RunLoop.h"
#include "runtime/ThreadWorkRunner.h"

using namespace quillant;
using namespace quillant::app;
using namespace quillant::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A file with its folders, at `mode`.
void placeFile(const fs::path& p, const std::string& text, fs::perms mode = fs::perms(0644)) {
    fs::create_directories(p.parent_path());
    writeFile(p, text);
    fs::permissions(p, mode);
}

// A zip of `folder` (its own name at the archive's top level).
std::string zipOf(const fs::path& folder) {
    fs::path archive = folder.parent_path() / (folder.filename().string() + ".zip");
    int status = linux_platform::runAndWait(
        "/bin/sh", {"-c", "cd \"$1\" && zip -qr \"$2\" \"$3\"", "sh", folder.parent_path().string(), archive.string(),
                    folder.filename().string()});
    EXPECT_EQ(status, 0);
    return readFile(archive);
}

// An installation folder: bin/quillant that records its relaunch, and the marker.
void makeBundle(const fs::path& bundle, const std::string& version, const fs::path& relaunchRecord, bool marker = true) {
    placeFile(bundle / "VERSION", version);
    placeFile(bundle / "bin/quillant", "#!/bin/sh\necho \"$0\" > '" + relaunchRecord.string() + "'\n", fs::perms(0755));
    if (marker) placeFile(bundle / Updater::kBundleMarker, "");
}

struct LocalServer {
    httplib::Server server;
    int port = 0;
    std::thread thread;
    std::map<std::string, std::pair<int, std::string>> files;  // path -> status, body

    LocalServer() {
        server.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            auto it = files.find(req.path);
            if (it == files.end()) {
                res.status = 404;
                res.set_content("<html><body>Not Found</body></html>", "text/html");
                return;
            }
            res.status = it->second.first;
            res.set_content(it->second.second, "application/octet-stream");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~LocalServer() {
        server.stop();
        thread.join();
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
};

struct UpdaterHarness {
    TempDir root;
    LocalServer server;
    linux_platform::RunLoop loop;
    ThreadWorkRunner runner{1};
    RecordingLogger logs;
    FakeAccessibilityGate accessibility;
    FakePasteboard board;
    FakeKeyEventPoster poster;
    clipboard::KeyEventSynth synth{poster};
    clipboard::PasteboardBroker broker{board, synth, clipboard::PasteboardProfile::linuxX11()};
    credentials::TokenStore tokens{root.path() / "home"};
    FakeDefaultsStore defaults;
    hotkey::Preferences preferences{defaults};
    FakeHotKeyService hotKeyService;
    hotkey::HotKeysController hotKeys{hotKeyService};
    std::shared_ptr<linux_platform::CurlHttpSession> http = std::make_shared<linux_platform::CurlHttpSession>(loop);
    FakeUpdateEnvironment update;
    std::unique_ptr<AppCoordinator> coordinator;

    UpdaterHarness() {
        update.tempDir = root.path() / "tmp";
        update.bundle = root.path() / "apps" / "quillant";
        fs::create_directories(update.tempDir);
    }
    ~UpdaterHarness() { coordinator.reset(); }

    void offer(const std::string& downloadPath) {
        server.files["/v1/version"] = {
            200, R"({"version":"2.0.0","download_url":")" + server.url(downloadPath) + R"("})"};
    }

    // Starts the coordinator, waits for the offer, presses "Install" and waits for the outcome.
    void install() {
        coordinator = std::make_unique<AppCoordinator>(CoordinatorServices{
            loop, logs, accessibility, broker, synth, tokens, preferences, hotKeys, http, server.url(""), runner,
            update, "1.0.0"});
        ASSERT_TRUE(loop.runUntil([&] { return coordinator->updateAvailable.get(); }, 20s));
        coordinator->installUpdate();
        ASSERT_TRUE(loop.runUntil(
            [&] {
                return update.terminations > 0 || coordinator->lastStatus.get() == "Update failed — try again";
            },
            60s));
    }

    std::vector<fs::path> workDirectories() const {
        std::vector<fs::path> out;
        for (auto& e : fs::directory_iterator(update.tempDir))
            if (e.path().filename().string().rfind("quillant-update-", 0) == 0) out.push_back(e.path());
        return out;
    }
};

}  // namespace

TEST(UpdaterIntegration, AGoodArchiveEndsInTheHandOverScript) {
    UpdaterHarness h;
    makeBundle(h.update.bundle, "1.0.0", h.root.path() / "relaunched");
    makeBundle(h.root.path() / "staging/quillant.app", "2.0.0", h.root.path() / "relaunched");
    h.server.files["/q.zip"] = {200, zipOf(h.root.path() / "staging/quillant.app")};
    h.offer("/q.zip");
    h.install();

    EXPECT_EQ(h.update.terminations, 1);
    EXPECT_EQ(h.coordinator->lastStatus.get(), "Installing update…");
    EXPECT_EQ(h.logs.messages().back(), "update installer launched; quitting for replacement");
    auto work = h.workDirectories();
    ASSERT_EQ(work.size(), 1u);
    const std::string name = work[0].filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex("quillant-update-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << name;
    const fs::path script = work[0] / "update.sh";
    EXPECT_EQ(readFile(script),
              "#!/bin/bash\nwhile kill -0 4242 2>/dev/null; do sleep 0.3; done\nrm -rf \"" + h.update.bundle.string() +
                  "\"\ncp -R \"" + (work[0] / "quillant.app").string() + "\" \"" + h.update.bundle.string() +
                  "\"\nsetsid \"" + h.update.bundle.string() + "/bin/quillant\" >/dev/null 2>&1 </dev/null &\nrm -rf \"" +
                  work[0].string() + "\"");
    struct stat st {};
    ASSERT_EQ(::stat(script.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(h.update.launched.size(), 1u);
    EXPECT_EQ(h.update.launched[0].first, "/bin/bash");
    EXPECT_EQ(h.update.launched[0].second, std::vector<std::string>{script.string()});
    EXPECT_EQ(readFile(work[0] / "quillant.app/VERSION"), "2.0.0");
}

struct FailureRow {
    const char* name;
    std::function<void(UpdaterHarness&)> setup;
    std::string logged;
};

class UpdaterFailure : public ::testing::TestWithParam<FailureRow> {};

TEST_P(UpdaterFailure, EndsInTheFailurePathAndLeavesNothingBehind) {
    UpdaterHarness h;
    GetParam().setup(h);
    h.install();
    EXPECT_EQ(h.coordinator->lastStatus.get(), "Update failed — try again");
    EXPECT_EQ(h.logs.records().back().level, LogLevel::error);
    EXPECT_EQ(h.logs.messages().back().rfind("update failed: " + GetParam().logged, 0), 0u) << h.logs.messages().back();
    EXPECT_TRUE(h.workDirectories().empty());
    EXPECT_EQ(h.update.terminations, 0);
    EXPECT_TRUE(h.update.launched.empty());
    EXPECT_TRUE(h.coordinator->updateAvailable.get());  // the banner stays for another try
    EXPECT_EQ(readFile(h.update.bundle / "VERSION"), "1.0.0");
}

INSTANTIATE_TEST_SUITE_P(
    UpdaterIntegration, UpdaterFailure,
    ::testing::Values(
        FailureRow{"error_page_is_not_an_archive",
                   [](UpdaterHarness& h) {
                       makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
                       h.offer("/missing.zip");
                   },
                   "unzipFailed"},
        FailureRow{"bundle_wrapped_in_a_folder",
                   [](UpdaterHarness& h) {
                       makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
                       makeBundle(h.root.path() / "staging/wrapper/quillant.app", "2.0.0", h.root.path() / "r");
                       h.server.files["/w.zip"] = {200, zipOf(h.root.path() / "staging/wrapper")};
                       h.offer("/w.zip");
                   },
                   "appNotFound"},
        FailureRow{"not_a_self_contained_installation",
                   [](UpdaterHarness& h) {
                       makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r", /*marker=*/false);
                       makeBundle(h.root.path() / "staging/quillant.app", "2.0.0", h.root.path() / "r");
                       h.server.files["/q.zip"] = {200, zipOf(h.root.path() / "staging/quillant.app")};
                       h.offer("/q.zip");
                   },
                   "not a self-contained installation"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdaterIntegration, TheScriptKeepsHostilePathsLiteralWhenBashRunsIt) {
    TempDir root;
    // Every character bash still treats specially inside double quotes.
    const fs::path odd = root.path() / "we\"ird $HOME `touch pwned` \\ dir";
    const fs::path bundle = odd / "quillant";
    const fs::path work = odd / "quillant-update-TEST";
    const fs::path record = root.path() / "relaunched";
    makeBundle(bundle, "1.0.0", record);
    makeBundle(work / "quillant.app", "2.0.0", record);
    placeFile(work / "quillant.zip", "zip");

    // A process identifier that no longer runs.
    pid_t gone = 0;
    {
        std::string out;
        int status = linux_platform::runAndWait("/bin/sh", {"-c", "echo $$ > '" + (root.path() / "pid").string() + "'"});
        ASSERT_EQ(status, 0);
        gone = std::stoi(readFile(root.path() / "pid"));
    }
    const std::string script = Updater::installerScript(gone, bundle, work / "quillant.app", work);
    placeFile(root.path() / "update.sh", script, fs::perms(0755));
    ASSERT_EQ(linux_platform::runAndWait("/bin/bash", {(root.path() / "update.sh").string()}), 0);

    EXPECT_EQ(readFile(bundle / "VERSION"), "2.0.0");
    EXPECT_FALSE(fs::exists(work));
    EXPECT_TRUE(fs::exists(odd));  // only the bundle and the work folder were touched
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists(odd / "pwned"));
    // The relaunch is detached; give it a generous moment.
    for (int i = 0; i < 200 && !fs::exists(record); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(readFile(record), (bundle / "bin/quillant").string() + "\n");
}

TEST(UpdaterScript, PlainPathsGiveTheScriptByteForByte) {
    EXPECT_EQ(Updater::installerScript(123, "/opt/quillant", "/tmp/w/quillant.app", "/tmp/w"),
              "#!/bin/bash\nwhile kill -0 123 2>/dev/null; do sleep 0.3; done\nrm -rf \"/opt/quillant\"\ncp -R "
              "\"/tmp/w/quillant.app\" \"/opt/quillant\"\nsetsid \"/opt/quillant/bin/quillant\" >/dev/null 2>&1 "
              "</dev/null &\nrm -rf \"/tmp/w\"");
}
