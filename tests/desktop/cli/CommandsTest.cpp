// The program's commands, run as a user would: the real binary, a real local
// service, a real temporary home directory.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <thread>

#include "testsupport/PlainHttpServer.h"
#include "testsupport/Process.h"
#include "testsupport/TempDir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using quillant::testing::ProcessOptions;
using quillant::testing::readFile;
using quillant::testing::TempDir;
using Result = quillant::testing::ProgramResult;

// Runs a program with the given environment additions and standard input; the
// test's own home, display and quillant settings are not passed on.
Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& input) {
    ProcessOptions options;
    options.env = env;
    options.dropFromEnvironment = {"HOME=", "QUILLANT_", "DISPLAY=", "XDG_RUNTIME_DIR="};
    options.input = input;
    return quillant::testing::runProgram(argv, options);
}

// A real quillant-service on a free loopback port, with one key.
struct LocalService {
    TempDir dir;
    std::optional<quillant::testing::Process> process;
    std::string key;
    std::string url;

    LocalService() {
        auto added = run({QUILLANT_SERVICE_EXE, "--keys-file", (dir / "keys").string(), "--add-key"}, {}, "");
        key = added.out.substr(0, added.out.find('\n'));
        const fs::path log = dir / "service.log";
        ProcessOptions options;
        options.errors = ProcessOptions::Errors::toFile;
        options.errorsFile = log.string();
        process = quillant::testing::Process::startWith(
            {QUILLANT_SERVICE_EXE, "--keys-file", (dir / "keys").string(), "--port", "0"}, options);
        std::smatch m;
        std::regex listening("listening on (http://127\\.0\\.0\\.1:[0-9]+)");
        for (int i = 0; i < 200 && url.empty(); ++i) {
            std::string text = fs::exists(log) ? readFile(log) : std::string();
            if (std::regex_search(text, m, listening)) url = m[1];
            else std::this_thread::sleep_for(50ms);
        }
        EXPECT_FALSE(url.empty()) << (fs::exists(log) ? readFile(log) : std::string());
    }
};

struct Program {
    LocalService& service;
    TempDir home;
    Result operator()(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), QUILLANT_EXE);
        // A runtime folder of its own: a quillant running on this machine is not ours to talk to.
        return run(args, {"HOME=" + home.path().string(), "XDG_RUNTIME_DIR=" + home.path().string(),
                          "QUILLANT_SERVICE_URL=" + service.url},
                   input);
    }
    fs::path tokenFile() const { return home / ".config/quillant/token"; }
};

class ProgramTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { service_ = new LocalService(); }
    static void TearDownTestSuite() {
        delete service_;
        service_ = nullptr;
    }
    static LocalService* service_;
};
LocalService* ProgramTest::service_ = nullptr;

}  // namespace

TEST_F(ProgramTest, KeyLifecycleFromTheCommandLine) {
    Program quillant{*service_};
    auto status = quillant({"key", "status"});
    EXPECT_EQ(status.status, 1);
    EXPECT_EQ(status.out, "absent\n");

    auto set = quillant({"key", "set"}, "  " + service_->key + "\n");
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(readFile(quillant.tokenFile()), service_->key);
    struct stat st {};
    ASSERT_EQ(stat(quillant.tokenFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(set.out.find(service_->key), std::string::npos);
    EXPECT_EQ(set.err.find(service_->key), std::string::npos);

    EXPECT_EQ(quillant({"key", "status"}).out, "connected\n");
    EXPECT_EQ(quillant({"key", "clear"}).status, 0);
    EXPECT_FALSE(fs::exists(quillant.tokenFile()));
    EXPECT_EQ(quillant({"key", "clear"}).status, 0);  // nothing to clear is fine

    quillant({"key", "set"}, "ql_not_a_key_the_service_knows");
    auto invalid = quillant({"key", "status"});
    EXPECT_EQ(invalid.out, "invalid\n");
    EXPECT_EQ(invalid.status, 1);

    auto blank = quillant({"key", "set"}, " \n");
    EXPECT_EQ(blank.status, 1);
    EXPECT_EQ(readFile(quillant.tokenFile()), "ql_not_a_key_the_service_knows");  // left as it was
}

TEST_F(ProgramTest, AKeyThatCannotBeStoredIsReportedAsSuch) {
    Program quillant{*service_};
    quillant({"key", "set"}, service_->key);
    auto r = quillant({"key", "set"}, "ql_\xff\xfe_latin1_paste\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quillant: the API key can't be saved: it is not valid UTF-8 text\n");
    EXPECT_EQ(readFile(quillant.tokenFile()), service_->key);  // the previous key stays
    EXPECT_EQ(quillant({"key", "status"}).out, "connected\n");
}

struct FixRow {
    const char* name;
    bool withKey;
    std::string input;
    int status;
    std::string out;
    std::string errStart;
};

class ProgramFix : public ProgramTest, public ::testing::WithParamInterface<FixRow> {};

TEST_P(ProgramFix, CorrectsStandardInput) {
    Program quillant{*service_};
    if (GetParam().withKey) quillant({"key", "set"}, service_->key);
    auto r = quillant({"fix"}, GetParam().input);
    EXPECT_EQ(r.status, GetParam().status) << r.err;
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(r.err.rfind(GetParam().errStart, 0), 0u) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Program, ProgramFix,
    ::testing::Values(
        FixRow{"corrected", true, "teh  cat sat .", 0, "The cat sat.", ""},
        FixRow{"mentions_kept", true, "Thanks @Ann for teh notes.", 0, "Thanks @Ann for the notes.", ""},
        FixRow{"no_key", false, "text", 1, "", "Enter API key to start"},
        FixRow{"empty", true, "", 1, "", "Empty selection"},
        FixRow{"over_the_cap", true, std::string(1501, 'a'), 1, "", "Selection too long (1501 / 1500)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramTest, ServiceRefusalsComeOutAsTheirUserMessage) {
    Program quillant{*service_};
    quillant({"key", "set"}, "ql_unknown");
    auto r = quillant({"fix"}, "some text");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "API key invalid — re-enter token\n");
}

TEST_F(ProgramTest, UsageAndVersion) {
    Program quillant{*service_};
    auto version = quillant({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillant 0.1.0\n");
    auto help = quillant({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("key set"), std::string::npos);
    auto bad = quillant({"key", "frobnicate"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("unknown command 'key frobnicate'"), std::string::npos);
}

TEST_F(ProgramTest, DesktopPartsNeedADisplayAndSaySo) {
    Program quillant{*service_};
    for (auto args : {std::vector<std::string>{}, std::vector<std::string>{"inspect"}}) {
        auto r = quillant(args);
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST_F(ProgramTest, AnUntrustedServiceURLIsRefused) {
    TempDir home;
    auto r = run({QUILLANT_EXE, "key", "status"}, {"HOME=" + home.path().string(), "QUILLANT_SERVICE_URL=http://example.com"},
                 "");
    EXPECT_EQ(r.status, 2);
}

namespace {

// quillant with no service chosen, in a fresh home, with `runtime` as its runtime directory.
struct DefaultProgram {
    fs::path runtime;
    TempDir home;
    Result operator()(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), QUILLANT_EXE);
        return run(args, {"HOME=" + home.path().string(), "XDG_RUNTIME_DIR=" + runtime.string()}, input);
    }
};

// A Unix-socket listener that records whether anyone connected.
struct SocketSquatter {
    int fd = -1;
    explicit SocketSquatter(const fs::path& path) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(fd, 8), 0);
    }
    bool wasContacted() const {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;  // a pending connection
    }
    ~SocketSquatter() { ::close(fd); }
};

}  // namespace

// The default needs nothing from the user: no service started by hand, no key.
TEST(DefaultService, IsTheUsersOwnCorrectorStartedWhenNeededWithAKeyOfItsOwn) {
    TempDir runtime;
    DefaultProgram quillant{runtime.path()};
    const std::string socket = (runtime / "quillant/service.sock").string();
    auto fixed = quillant({"fix"}, "teh cat");
    EXPECT_EQ(fixed.status, 0) << fixed.err;
    EXPECT_EQ(fixed.out.substr(1), "he cat");  // corrected, whatever the capital
    EXPECT_EQ(quillant({"key", "status"}).out, "connected\n");
    EXPECT_EQ(quillant::testing::processesRunning(QUILLANT_SERVICE_EXE, socket).size(), 1u);
    // Its key is not the user's API key, which stays for a remote service.
    const fs::path localKey = quillant.home / ".config/quillant/local-key";
    EXPECT_EQ(fs::status(localKey).permissions(), fs::perms(0600));
    EXPECT_FALSE(fs::exists(quillant.home / ".config/quillant/token"));
    auto set = quillant({"key", "set"}, "ql_for_a_remote_service");
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.err.find("the local corrector needs none"), std::string::npos) << set.err;
    EXPECT_EQ(quillant({"key", "status"}).out, "connected\n");
    quillant::testing::stopProcessesRunning(QUILLANT_SERVICE_EXE, socket);
}

// The old default address was a loopback port that any local user could take
// while our service was down. Now a squatter there hears nothing.
TEST(DefaultService, ASquatterOnTheOldLoopbackAddressGetsNeitherKeyNorText) {
    std::unique_ptr<quillant::testing::PlainHttpServer> squatter;
    try {
        squatter = std::make_unique<quillant::testing::PlainHttpServer>("127.0.0.1", 8787);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "127.0.0.1:8787 is taken on this machine: " << e.what();
    }
    TempDir runtime;
    DefaultProgram quillant{runtime.path()};
    auto fixed = quillant({"fix"}, "my private text");
    EXPECT_EQ(fixed.status, 0) << fixed.err;
    EXPECT_EQ(quillant({"key", "status"}).out, "connected\n");
    EXPECT_EQ(squatter->connectionCount(), 0);
    EXPECT_EQ(squatter->allBytes().find("my private text"), std::string::npos);
    quillant::testing::stopProcessesRunning(QUILLANT_SERVICE_EXE, (runtime / "quillant" / "service.sock").string());
}

struct UnprivateRow {
    const char* name;
    unsigned mode;
    bool otherOwner;
    std::string complaint;
};

class DefaultServiceFolder : public ::testing::TestWithParam<UnprivateRow> {};

// A listener in a runtime folder that others could have written to is never
// trusted with the key or the text.
TEST_P(DefaultServiceFolder, ThatIsNotPrivateIsNeverContacted) {
    if (GetParam().otherOwner && ::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder to another user";
    TempDir runtime;
    fs::path folder = runtime / "quillant";
    fs::create_directory(folder);
    SocketSquatter squatter(folder / "service.sock");
    ::chmod(folder.c_str(), GetParam().mode);
    if (GetParam().otherOwner) {
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    }
    DefaultProgram quillant{runtime.path()};
    auto fixed = quillant({"fix"}, "my private text");
    EXPECT_EQ(fixed.status, 1);
    EXPECT_EQ(fixed.err, "Network error: Refusing the local corrector: " + folder.string() + " " +
                             GetParam().complaint + "\n");
    EXPECT_EQ(quillant({"key", "status"}).out, "offline\n");
    EXPECT_FALSE(squatter.wasContacted());
    // Nor is a corrector of ours started there.
    EXPECT_TRUE(quillant::testing::processesRunning(QUILLANT_SERVICE_EXE, (folder / "service.sock").string()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, DefaultServiceFolder,
    ::testing::Values(
        UnprivateRow{"open_to_others", 0755, false, "is open to other users (mode 0755); run chmod 700 on it"},
        UnprivateRow{"group_writable", 0770, false, "is open to other users (mode 0770); run chmod 700 on it"},
        UnprivateRow{"other_owner", 0700, true,
                     "belongs to another user (uid 65534); move it aside with mv (the folder it is in is yours)"}),
    [](const auto& info) { return std::string(info.param.name); });

// quillant corrector, against a stub OpenAI-compatible server on loopback.
TEST(CorrectorCommand, ChoosesAModelTheServerListsAndKeepsAHostedKeyPrivate) {
    const std::string answer = "I think the report is ready and we can send it tomorrow.";
    quillant::testing::PlainHttpServer model("127.0.0.1", 0, [&](const std::string& target) {
        std::string body = target == "/v1/models"
                               ? R"({"object":"list","data":[{"id":"tiny-model"}]})"
                               : R"({"choices":[{"message":{"role":"assistant","content":")" + answer + R"("}}]})";
        return quillant::testing::PlainHttpServer::reply(200, "Content-Type: application/json\r\n", body);
    });
    const std::string url = model.baseURL() + "/v1";
    TempDir home;
    const fs::path config = home / ".config/quillant";
    auto quillant = [&](std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), {QUILLANT_EXE, "corrector"});
        return run(args, {"HOME=" + home.path().string(), "XDG_CONFIG_HOME=" + (home / ".config").string()}, input);
    };

    auto r = quillant({"set", "local-model", "--url", url, "--model", "other"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("The model at " + url + " has no model named other"), std::string::npos) << r.err;
    EXPECT_EQ(quillant({"show"}).out, "Offline dictionary (automatic language)\n");

    r = quillant({"set", "local-model", "--url", url, "--model", "tiny-model"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("another user of this computer could answer on its port"), std::string::npos);
    r = quillant({"try"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "i think teh report is redy and we can send it tomorow\n" + answer + "\n");
    EXPECT_NE(model.allBytes().find(R"("model":"tiny-model")"), std::string::npos);

    r = quillant({"set", "hosted-model", "--url", "http://api.example.com/v1", "--model", "m"}, "sk-secret\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("https only"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(config / "provider-key"));

    r = quillant({"set", "hosted-model", "--url", "https://api.example.com/v1", "--model", "m"}, "sk-secret\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(config / "provider-key"), "sk-secret\n");
    struct stat st {};
    ASSERT_EQ(::stat((config / "provider-key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    r = quillant({"show"});
    EXPECT_EQ(r.out, "Hosted model: m at https://api.example.com/v1\n"
                     "time-out: 8 s; offline dictionary when the model fails (auto)\nprovider key: set\n");
    EXPECT_EQ(readFile(config / "settings.json").find("sk-secret"), std::string::npos);
}
