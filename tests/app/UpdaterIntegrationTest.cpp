// The updater end to end: a real local HTTP server (reached over a private
// socket, as downloads must be), the curl session, release signatures made by
// scripts/release-key with a key pair of the test's own, the real unzip and
// bash, real folders.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "testsupport/CoordinatorHarness.h"
#include "testsupport/Process.h"
#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/PosixProcess.h"
#include "platform/linux/RunLoop.h"
#include "runtime/ThreadWorkRunner.h"
#include "testsupport/ReleaseKey.h"
#include "testsupport/SocketForwarder.h"

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

// A zip of `folder` (its own name at the archive's top level). With
// `keepLinks`, links are stored as links, as a crafted archive would have them.
std::string zipOf(const fs::path& folder, bool keepLinks = false) {
    fs::path archive = folder.parent_path() / (folder.filename().string() + ".zip");
    int status = linux_platform::runAndWait(
        "/bin/sh", {"-c", std::string("cd \"$1\" && zip -qr") + (keepLinks ? "y" : "") + " \"$2\" \"$3\"", "sh",
                    folder.parent_path().string(), archive.string(), folder.filename().string()});
    EXPECT_EQ(status, 0);
    return readFile(archive);
}

// An installation folder: bin/quillant that records its relaunch, a
// corrector (sleep(1), a real program that stays as long as it is told), and the marker.
void makeBundle(const fs::path& bundle, const std::string& version, const fs::path& relaunchRecord, bool marker = true) {
    placeFile(bundle / "VERSION", version);
    fs::create_directories(bundle / "bin");
    fs::copy_file("/bin/sleep", bundle / "bin/quillant-service", fs::copy_options::overwrite_existing);
    // Written aside and renamed: a waiter that sees the record sees all of it.
    const std::string r = relaunchRecord.string();
    placeFile(bundle / "bin/quillant", "#!/bin/sh\necho \"$0\" > '" + r + ".tmp' && mv '" + r + ".tmp' '" + r + "'\n",
              fs::perms(0755));
    if (marker) placeFile(bundle / Updater::kBundleMarker, "");
}

// A release archive of a bundle staged by `makeBundle` and then changed by `spoil`.
void offerArchive(struct UpdaterHarness& h, const std::function<void(const fs::path& app)>& spoil);

// A folder that even root cannot write to: a read-only file system when we are
// root (tmpfs, remounted read-only once filled), else plain permissions.
bool makeReadOnly(const fs::path& dir, std::vector<fs::path>& mounts, const std::function<void()>& fill) {
    fs::create_directories(dir);
    if (::geteuid() != 0) {
        fill();
        fs::permissions(dir, fs::perms(0555), fs::perm_options::replace);
        return true;
    }
    if (linux_platform::runAndWait("/bin/mount", {"-t", "tmpfs", "-o", "size=4m", "none", dir.string()}) != 0)
        return false;
    mounts.push_back(dir);
    fill();
    return linux_platform::runAndWait("/bin/mount", {"-o", "remount,ro", dir.string()}) == 0;
}

struct LocalServer {
    httplib::Server server;
    int port = 0;
    std::thread thread;
    std::map<std::string, std::pair<int, std::string>> files;  // path -> status, body
    std::atomic<bool> slowStarted{false}, slowReleased{false};

    LocalServer() {
        // A download that sends a little and then stalls until released.
        server.Get("/slow.zip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("application/zip", [this](size_t, httplib::DataSink& sink) {
                sink.write("PK\x03\x04", 4);
                slowStarted = true;
                for (int i = 0; i < 2000 && !slowReleased; ++i) std::this_thread::sleep_for(10ms);
                sink.done();
                return true;
            });
        });
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
        slowReleased = true;
        server.stop();
        thread.join();
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
};

// A folder only we can enter, for a socket.
fs::path privateFolder(const fs::path& path) {
    fs::create_directories(path);
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
    return path;
}

struct UpdaterHarness {
    TempDir root;
    LocalServer server;
    // Downloads come over the private socket; the service itself on loopback.
    SocketForwarder downloads{privateFolder(root.path() / "run") / "dl.sock", server.port};
    ReleaseKey key = ReleaseKey::make(root.path() / "release.pem");
    std::string publicKey = key.publicKey;  // the key the running build trusts
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

    std::vector<fs::path> mounts;

    UpdaterHarness() {
        update.tempDir = root.path() / "tmp";
        update.bundle = root.path() / "apps" / "quillant";
        fs::create_directories(update.tempDir);
    }
    ~UpdaterHarness() {
        coordinator.reset();
        for (auto& m : mounts) linux_platform::runAndWait("/bin/umount", {m.string()});
    }

    // Starts the coordinator, waits for the offer and presses "Install".
    void pressInstall() {
        CoordinatorServices services{loop,  logs, accessibility, broker, synth, tokens, preferences,
                                     hotKeys, http, server.url(""), runner, update, "1.0.0"};
        services.updatePublicKey = publicKey;
        coordinator = std::make_unique<AppCoordinator>(std::move(services));
        ASSERT_TRUE(loop.runUntil([&] { return coordinator->updateAvailable.get(); }, 20s));
        coordinator->installUpdate();
    }

    // Announces the archive at `downloadPath`, signed with the trusted key
    // unless a signature is already there.
    void offer(const std::string& downloadPath) {
        server.files["/v1/version"] = {
            200, R"({"version":"2.0.0","download_url":")" + downloads.baseURL() + downloadPath + R"("})"};
        auto archive = server.files.find(downloadPath);
        if (archive != server.files.end() && !server.files.contains(downloadPath + ".sig"))
            server.files[downloadPath + ".sig"] = {200, key.sign(archive->second.second)};
    }

    // Starts the coordinator, waits for the offer, presses "Install" and waits for the outcome.
    void install() {
        pressInstall();
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

void offerArchive(UpdaterHarness& h, const std::function<void(const fs::path& app)>& spoil) {
    makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
    const fs::path app = h.root.path() / "staging/quillant.app";
    makeBundle(app, "2.0.0", h.root.path() / "r");
    spoil(app);
    h.server.files["/q.zip"] = {200, zipOf(h.root.path() / "staging/quillant.app", /*keepLinks=*/true)};
    h.offer("/q.zip");
}

}  // namespace

TEST(UpdaterIntegration, AGoodArchiveEndsInTheHandOverScript) {
    UpdaterHarness h;
    makeBundle(h.update.bundle, "1.0.0", h.root.path() / "relaunched");
    makeBundle(h.root.path() / "staging/quillant.app", "2.0.0", h.root.path() / "relaunched");
    h.server.files["/q.zip"] = {200, zipOf(h.root.path() / "staging/quillant.app")};
    h.offer("/q.zip");
    h.install();

    EXPECT_EQ(h.update.terminations, 1);
    EXPECT_EQ(h.coordinator->lastStatus.get(), "Restarting quillant…");
    EXPECT_EQ(h.logs.messages().back(), "update installer launched; quitting for replacement");
    auto work = h.workDirectories();
    ASSERT_EQ(work.size(), 1u);
    const std::string name = work[0].filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex("quillant-update-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << name;
    struct stat folder {};
    ASSERT_EQ(::stat(work[0].c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);  // private from the start
    const fs::path script = work[0] / "update.sh";
    EXPECT_EQ(readFile(script), Updater::installerScript(4242, h.update.bundle, work[0], /*exchanged=*/true));
    // Swapped in before quitting; the script only removes the old one.
    EXPECT_EQ(readFile(h.update.bundle / "VERSION"), "2.0.0");
    EXPECT_EQ(readFile(h.update.bundle.string() + ".update-new/VERSION"), "1.0.0");
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
void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class UpdaterFailure : public ::testing::TestWithParam<FailureRow> {};

TEST_P(UpdaterFailure, EndsInTheFailurePathAndLeavesNothingBehind) {
    UpdaterHarness h;
    GetParam().setup(h);
    if (::testing::Test::IsSkipped()) return;
    h.install();
    EXPECT_EQ(h.coordinator->lastStatus.get(), "Update failed — try again");
    EXPECT_EQ(h.logs.records().back().level, LogLevel::error);
    EXPECT_EQ(h.logs.messages().back().rfind("update failed: " + GetParam().logged, 0), 0u) << h.logs.messages().back();
    EXPECT_TRUE(h.workDirectories().empty());
    EXPECT_EQ(h.update.terminations, 0);
    EXPECT_TRUE(h.update.launched.empty());
    EXPECT_TRUE(h.coordinator->updateAvailable.get());  // the banner stays for another try
    EXPECT_EQ(readFile(h.update.bundle / "VERSION"), "1.0.0");
    EXPECT_FALSE(fs::exists(h.update.bundle.string() + ".update-new"));
}

INSTANTIATE_TEST_SUITE_P(
    UpdaterIntegration, UpdaterFailure,
    ::testing::Values(
        FailureRow{"error_page_is_not_an_archive",
                   [](UpdaterHarness& h) {
                       makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
                       h.offer("/missing.zip");
                   },
                   "the download answered HTTP 404"},
        FailureRow{"signed_archive_that_does_not_unpack",
                   [](UpdaterHarness& h) {
                       makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
                       h.server.files["/q.zip"] = {200, "<html>not an archive</html>"};
                       h.offer("/q.zip");
                   },
                   "unzipFailed"},
        // Nothing is unpacked without a good signature by the key the build trusts.
        FailureRow{"signature_missing",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path&) {});
                       h.server.files.erase("/q.zip.sig");
                   },
                   "bad signature: none at"},
        FailureRow{"signature_of_another_archive",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path&) {});
                       h.server.files["/q.zip.sig"] = {200, h.key.sign("another archive")};
                   },
                   "bad signature: the signature does not match the archive"},
        FailureRow{"signature_by_another_key",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path&) {});
                       const auto other = ReleaseKey::make(h.root.path() / "other.pem");
                       h.server.files["/q.zip.sig"] = {200, other.sign(h.server.files["/q.zip"].second)};
                   },
                   "bad signature: the signature is by another key"},
        FailureRow{"signature_not_a_signature",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path&) {});
                       h.server.files["/q.zip.sig"] = {200, "<html>Not Found</html>"};
                   },
                   "bad signature: the signature file is not in minisign's format"},
        // Zeros compress well: a small download that would fill the disk.
        FailureRow{"unpacks_too_large",
                   [](UpdaterHarness& h) {
                       makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
                       const fs::path bomb = h.root.path() / "bomb.zip";
                       ASSERT_EQ(linux_platform::runAndWait(
                                     "/bin/sh", {"-c", "head -c 600M /dev/zero | zip -q \"$1\" -", "sh", bomb.string()}),
                                 0);
                       h.server.files["/q.zip"] = {200, readFile(bomb)};
                       h.offer("/q.zip");
                   },
                   "the update unpacks to more than"},
        FailureRow{"build_without_a_key",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path&) {});
                       h.publicKey = "";
                   },
                   "this build has no key to check an update's signature with"},
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
                   "not a self-contained installation"},
        // What would be copied into place must be an installation that starts again.
        FailureRow{"no_program_in_the_update",
                   [](UpdaterHarness& h) { offerArchive(h, [](const fs::path& app) { fs::remove(app / "bin/quillant"); }); },
                   "the update's quillant.app has no executable bin/quillant"},
        FailureRow{"program_not_executable",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path& app) {
                           fs::permissions(app / "bin/quillant", fs::perms(0644), fs::perm_options::replace);
                       });
                   },
                   "the update's quillant.app has no executable bin/quillant"},
        FailureRow{"program_is_a_link_out",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path& app) {
                           fs::remove(app / "bin/quillant");
                           fs::create_symlink("/bin/sh", app / "bin/quillant");
                       });
                   },
                   "the update's quillant.app has no executable bin/quillant"},
        FailureRow{"no_corrector_in_the_update",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path& app) { fs::remove(app / "bin/quillant-service"); });
                   },
                   "the update's quillant.app has no executable bin/quillant-service"},
        FailureRow{"older_release_replayed",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path& app) { placeFile(app / "VERSION", "0.9.0\n"); });
                   },
                   "the update's version 0.9.0 is not newer than the running 1.0.0"},
        FailureRow{"no_marker_in_the_update",
                   [](UpdaterHarness& h) {
                       offerArchive(h, [](const fs::path& app) { fs::remove(app / Updater::kBundleMarker); });
                   },
                   "the update's quillant.app has no .quillant-bundle"},
        FailureRow{"update_is_a_link_to_elsewhere",
                   [](UpdaterHarness& h) {
                       makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
                       makeBundle(h.root.path() / "staging/elsewhere", "2.0.0", h.root.path() / "r");
                       fs::create_symlink(h.root.path() / "staging/elsewhere", h.root.path() / "staging/quillant.app");
                       h.server.files["/l.zip"] = {200, zipOf(h.root.path() / "staging/quillant.app", true)};
                       h.offer("/l.zip");
                   },
                   "appNotFound"},
        FailureRow{"installation_not_writable",
                   [](UpdaterHarness& h) {
                       h.update.bundle = h.root.path() / "readonly" / "quillant";
                       bool ok = makeReadOnly(h.root.path() / "readonly", h.mounts, [&] {
                           makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
                       });
                       if (!ok) GTEST_SKIP() << "cannot make a read-only folder here";
                       makeBundle(h.root.path() / "staging/quillant.app", "2.0.0", h.root.path() / "r");
                       h.server.files["/q.zip"] = {200, zipOf(h.root.path() / "staging/quillant.app")};
                       h.offer("/q.zip");
                   },
                   "the installation folder"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdaterIntegration, AFileSystemThatCannotExchangeLeavesTheSwapToTheScript) {
    UpdaterHarness h;
    h.update.cannotExchange = true;
    makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
    makeBundle(h.root.path() / "staging/quillant.app", "2.0.0", h.root.path() / "r");
    h.server.files["/q.zip"] = {200, zipOf(h.root.path() / "staging/quillant.app")};
    h.offer("/q.zip");
    h.install();
    ASSERT_EQ(h.update.terminations, 1) << h.logs.messages().back();
    auto work = h.workDirectories();
    ASSERT_EQ(work.size(), 1u);
    EXPECT_EQ(readFile(work[0] / "update.sh"), Updater::installerScript(4242, h.update.bundle, work[0], false));
    EXPECT_EQ(readFile(h.update.bundle / "VERSION"), "1.0.0");
    EXPECT_EQ(readFile(h.update.bundle.string() + ".update-new/VERSION"), "2.0.0");
    EXPECT_TRUE(h.logs.contains("cannot swap " + h.update.bundle.string() + " in one step"));
}

TEST(UpdaterIntegration, TheScriptKeepsHostilePathsLiteralWhenBashRunsIt) {
    TempDir root;
    // Every character bash still treats specially inside double quotes.
    const fs::path odd = root.path() / "we\"ird $HOME `touch pwned` \\ dir";
    const fs::path bundle = odd / "quillant";
    const fs::path work = odd / "quillant-update-TEST";
    const fs::path record = root.path() / "relaunched";
    makeBundle(bundle, "1.0.0", record);
    makeBundle(bundle.string() + ".update-new", "2.0.0", record);
    makeBundle(work / "quillant.app", "2.0.0", record);
    placeFile(work / "quillant.zip", "zip");
    // The old installation's corrector, still running: it must go with its folder.
    auto oldCorrector = Process::start({(bundle / "bin/quillant-service").string(), "300"});
    // A corrector from elsewhere is not ours to stop.
    auto otherCorrector = Process::start({(odd / "quillant-update-TEST/quillant.app/bin/quillant-service").string(), "300"});

    // A process identifier that no longer runs.
    pid_t gone = 0;
    {
        std::string out;
        int status = linux_platform::runAndWait("/bin/sh", {"-c", "echo $$ > '" + (root.path() / "pid").string() + "'"});
        ASSERT_EQ(status, 0);
        gone = std::stoi(readFile(root.path() / "pid"));
    }
    // The two renames of a file system that cannot exchange: the longer script.
    const std::string script = Updater::installerScript(gone, bundle, work, /*exchanged=*/false);
    placeFile(root.path() / "update.sh", script, fs::perms(0755));
    ASSERT_EQ(linux_platform::runAndWait("/bin/bash", {(root.path() / "update.sh").string()}), 0);

    EXPECT_EQ(readFile(bundle / "VERSION"), "2.0.0");
    for (int i = 0; i < 200 && oldCorrector.running(); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(oldCorrector.running());
    EXPECT_TRUE(otherCorrector.running());
    EXPECT_FALSE(fs::exists(work));
    EXPECT_TRUE(fs::exists(odd));  // only the bundle and the work folder were touched
    std::set<std::string> left;
    for (auto& e : fs::directory_iterator(odd)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{"quillant"});
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists(odd / "pwned"));
    // The relaunch is detached; give it a generous moment.
    for (int i = 0; i < 200 && !fs::exists(record); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(readFile(record), (bundle / "bin/quillant").string() + "\n");
}

TEST(UpdaterScript, PlainPathsGiveTheScriptByteForByte) {
    EXPECT_EQ(Updater::installerScript(123, "/opt/quillant", "/tmp/w", /*exchanged=*/true),
              "#!/bin/bash\n"
              "while kill -0 123 2>/dev/null; do sleep 0.3; done\n"
              "for p in /proc/[0-9]*; do [ \"$(readlink \"$p/exe\" 2>/dev/null)\" != "
              "\"/opt/quillant.update-new/bin/quillant-service\" ] || kill -TERM \"${p#/proc/}\" 2>/dev/null; done\n"
              "rm -rf \"/opt/quillant.update-new\" \"/opt/quillant.update-old\"\n"
              "setsid \"/opt/quillant/bin/quillant\" >/dev/null 2>&1 </dev/null &\n"
              "rm -rf \"/tmp/w\"");
    EXPECT_EQ(Updater::installerScript(123, "/opt/quillant", "/tmp/w", /*exchanged=*/false),
              "#!/bin/bash\n"
              "while kill -0 123 2>/dev/null; do sleep 0.3; done\n"
              "rm -rf \"/opt/quillant.update-old\"\n"
              "if mv \"/opt/quillant\" \"/opt/quillant.update-old\"; then mv \"/opt/quillant.update-new\" "
              "\"/opt/quillant\" || mv \"/opt/quillant.update-old\" \"/opt/quillant\"; fi\n"
              "for p in /proc/[0-9]*; do [ \"$(readlink \"$p/exe\" 2>/dev/null)\" != "
              "\"/opt/quillant.update-old/bin/quillant-service\" ] || kill -TERM \"${p#/proc/}\" 2>/dev/null; done\n"
              "rm -rf \"/opt/quillant.update-new\" \"/opt/quillant.update-old\"\n"
              "setsid \"/opt/quillant/bin/quillant\" >/dev/null 2>&1 </dev/null &\n"
              "rm -rf \"/tmp/w\"");
}

// Run by bash for real, the two renames: one that fails (here: the new
// folder is gone) leaves the installation as it was, and the old one starts again.
TEST(UpdaterScript, AFailedSwapKeepsTheInstallationAndStartsItAgain) {
    TempDir root;
    const fs::path bundle = root.path() / "opt/quillant";
    const fs::path work = root.path() / "quillant-update-TEST";
    const fs::path record = root.path() / "relaunched";
    makeBundle(bundle, "1.0.0", record);
    fs::create_directories(work);
    const std::string script = Updater::installerScript(999999999, bundle, work, /*exchanged=*/false);
    placeFile(root.path() / "update.sh", script, fs::perms(0755));
    ASSERT_EQ(linux_platform::runAndWait("/bin/bash", {(root.path() / "update.sh").string()}), 0);
    EXPECT_EQ(readFile(bundle / "VERSION"), "1.0.0");
    EXPECT_EQ(fs::status(bundle / "bin/quillant").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    EXPECT_FALSE(fs::exists(work));
    std::set<std::string> left;
    for (auto& e : fs::directory_iterator(root.path() / "opt")) left.insert(e.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{"quillant"});
    for (int i = 0; i < 200 && !fs::exists(record); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(readFile(record), (bundle / "bin/quillant").string() + "\n");
}

// unzip reads anything that begins with "-" as options, wherever it stands.
TEST(UpdaterIntegration, ATemporaryFolderNamedLikeAnOptionIsStillAPath) {
    UpdaterHarness h;
    const fs::path before = fs::current_path();
    fs::current_path(h.root.path());
    h.update.tempDir = "-d";  // relative, below the current folder
    fs::create_directories(h.root.path() / "-d");
    makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
    makeBundle(h.root.path() / "staging/quillant.app", "2.0.0", h.root.path() / "r");
    h.server.files["/q.zip"] = {200, zipOf(h.root.path() / "staging/quillant.app")};
    h.offer("/q.zip");
    h.install();
    fs::current_path(before);
    EXPECT_EQ(h.update.terminations, 1) << h.logs.messages().back();
    ASSERT_EQ(h.update.launched.size(), 1u);
    EXPECT_EQ(h.update.launched[0].second[0].rfind((h.root.path() / "-d").string() + "/quillant-update-", 0), 0u);
}

TEST(UpdaterIntegration, QuittingDuringTheDownloadRemovesTheWorkFolder) {
    UpdaterHarness h;
    makeBundle(h.update.bundle, "1.0.0", h.root.path() / "r");
    h.offer("/slow.zip");
    h.pressInstall();
    ASSERT_TRUE(h.loop.runUntil([&] { return h.server.slowStarted.load() && h.workDirectories().size() == 1; }, 20s));
    EXPECT_EQ(h.coordinator->lastStatus.get(), "Downloading update…");
    // The desktop program's shutdown order: the coordinator, then the HTTP session.
    h.coordinator.reset();
    h.http.reset();
    EXPECT_TRUE(h.loop.runUntil([&] { return h.workDirectories().empty(); }, 10s));
    EXPECT_EQ(readFile(h.update.bundle / "VERSION"), "1.0.0");
}

TEST(ChildProcesses, ReadNothingOfOurs) {
    TempDir t;
    // Our own standard input is something a child could read.
    writeFile(t.path() / "ours", "secret");
    const int savedIn = ::dup(0);
    const int ours = ::open((t.path() / "ours").c_str(), O_RDONLY);
    ASSERT_GE(ours, 0);
    ::dup2(ours, 0);
    ::close(ours);
    const fs::path waited = t.path() / "waited", detached = t.path() / "detached";
    ASSERT_EQ(linux_platform::runAndWait("/bin/sh", {"-c", "readlink /proc/self/fd/0 > \"$1\"", "sh", waited.string()}), 0);
    linux_platform::launchDetached("/bin/sh", {"-c", "readlink /proc/self/fd/0 > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"",
                                               "sh", detached.string()});
    for (int i = 0; i < 200 && !fs::exists(detached); ++i) std::this_thread::sleep_for(25ms);
    ::dup2(savedIn, 0);
    ::close(savedIn);
    EXPECT_EQ(readFile(waited), "/dev/null\n");
    EXPECT_EQ(readFile(detached), "/dev/null\n");
}

TEST(ChildProcesses, TheTemporaryFolderIsAlwaysAnAbsolutePath) {
    struct Row {
        const char* tmpdir;  // nullptr: unset
        const char* expected;
    };
    const char* saved = std::getenv("TMPDIR");
    const std::string keep = saved ? saved : "";
    for (Row row : {Row{"/var/tmp/q", "/var/tmp/q"}, Row{"", "/tmp"}, Row{nullptr, "/tmp"}, Row{"-rf", "/tmp"},
                    Row{"relative/dir", "/tmp"}}) {
        if (row.tmpdir) ::setenv("TMPDIR", row.tmpdir, 1);
        else ::unsetenv("TMPDIR");
        EXPECT_EQ(linux_platform::temporaryDirectory(), fs::path(row.expected)) << (row.tmpdir ? row.tmpdir : "(unset)");
    }
    if (saved) ::setenv("TMPDIR", keep.c_str(), 1);
    else ::unsetenv("TMPDIR");
}
