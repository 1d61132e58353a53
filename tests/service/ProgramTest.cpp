// The quillant-service program, run as a child process.
#include "ServiceTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <regex>

#include "testsupport/Process.h"

using namespace quillant::service::testing;
using quillant::testing::Process;
using quillant::testing::ProcessOptions;
using ::testing::HasSubstr;

namespace {

// The service program with exactly the given environment, its output and errors captured.
class Child {
public:
    Child(std::vector<std::string> args, std::vector<std::string> env) : process_(start(std::move(args), std::move(env))) {}

    // Reads standard error until it holds `pattern` or ten seconds pass.
    std::smatch waitForError(const std::regex& pattern) {
        std::smatch match;
        process_.waitForErrors([&](const std::string& errors) { return std::regex_search(errors, match, pattern); },
                               std::chrono::seconds(10));
        return match;
    }

    // Waits up to ten seconds for the exit; returns the exit status or -1.
    int wait() {
        int status = process_.finish(std::chrono::seconds(10));
        stdout_ += process_.readAll(std::chrono::milliseconds(0));
        return status;
    }

    void signal(int sig) { process_.signal(sig); }
    const std::string& out() const { return stdout_; }
    const std::string& err() const { return process_.errors(); }

private:
    static Process start(std::vector<std::string> args, std::vector<std::string> env) {
        args.insert(args.begin(), QUILLANT_SERVICE_EXE);
        ProcessOptions options;
        options.env = std::move(env);
        options.inheritEnvironment = false;
        options.errors = ProcessOptions::Errors::capture;
        return Process::startWith(args, options);
    }

    Process process_;
    std::string stdout_;
};

class ProgramTest : public ::testing::Test {
protected:
    std::vector<std::string> env() {
        return {"HOME=" + dir.path().string(), "XDG_CONFIG_HOME=" + (dir / "config").string(), "PATH=/usr/bin:/bin"};
    }
    std::filesystem::path keysFile() { return dir / "config/quillant/service-keys"; }
    TempDir dir;
};

TEST_F(ProgramTest, HelpListsTheOptions) {
    Child child({"--help"}, env());
    EXPECT_EQ(child.wait(), 0);
    EXPECT_THAT(child.out(), HasSubstr("--keys-file FILE"));
    EXPECT_THAT(child.out(), HasSubstr("--upstream-url URL"));
}

TEST_F(ProgramTest, AddKeyPrintsOnlyTheKeyAndStoresItPrivately) {
    Child child({"--add-key"}, env());
    ASSERT_EQ(child.wait(), 0) << child.err();
    EXPECT_THAT(child.out(), ::testing::MatchesRegex("qk_[0-9a-f]{48}\n"));
    EXPECT_EQ(readFile(keysFile()), child.out());
    struct stat st {};
    ASSERT_EQ(::stat(keysFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ProgramTest, BadFlagsExitWithUsageError) {
    Child child({"--host", "0.0.0.0"}, env());
    EXPECT_EQ(child.wait(), 2);
    EXPECT_THAT(child.err(), HasSubstr("plain HTTP is served on loopback addresses only"));
    EXPECT_THAT(child.err(), HasSubstr("--help"));
}

TEST_F(ProgramTest, AMissingKeysFileIsReported) {
    Child child({"--port", "0"}, env());
    EXPECT_EQ(child.wait(), 1);
    EXPECT_THAT(child.err(), HasSubstr("cannot read the keys file"));
}

TEST_F(ProgramTest, AMissingDictionaryIsReported) {
    {
        Child add({"--add-key"}, env());
        ASSERT_EQ(add.wait(), 0);
    }
    Child child({"--port", "0", "--language", "xx_YY"}, env());
    EXPECT_EQ(child.wait(), 1);
    EXPECT_THAT(child.err(), HasSubstr("no dictionary for the language \"xx_YY\"; installed:"));
    EXPECT_THAT(child.err(), HasSubstr("en_US"));
}

// quillant starts its corrector whenever one is needed, possibly from two
// programs at once: one serves, the others leave, and the one that served
// leaves by itself once nobody asks.
TEST_F(ProgramTest, OfRacingStartsOnOneSocketOneServesAndLeavesWhenIdle) {
    {
        Child add({"--add-key"}, env());
        ASSERT_EQ(add.wait(), 0);
    }
    const std::filesystem::path socket = dir / "run/quillant/service.sock";
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 3; ++i)
        children.push_back(std::make_unique<Child>(
            std::vector<std::string>{"--socket", socket.string(), "--idle-exit", "2"}, env()));
    int serving = 0, leaving = 0;
    for (auto& child : children) {
        EXPECT_EQ(child->wait(), 0) << child->err();
        serving += child->err().find("listening on") != std::string::npos;
        leaving += child->err().find("already serves") != std::string::npos;
        if (child->err().find("listening on") != std::string::npos) {
            EXPECT_THAT(child->err(), HasSubstr("no request for 2 s; stopping"));
        }
    }
    EXPECT_EQ(serving, 1);
    EXPECT_EQ(leaving, 2);
    EXPECT_FALSE(std::filesystem::exists(socket));
}

class ProgramSignal : public ProgramTest, public ::testing::WithParamInterface<int> {};

TEST_P(ProgramSignal, ServesUntilSignalledAndStopsCleanly) {
    std::string key;
    {
        Child add({"--add-key"}, env());
        ASSERT_EQ(add.wait(), 0);
        key = add.out().substr(0, add.out().size() - 1);
    }
    Child child({"--port", "0"}, env());
    auto match = child.waitForError(std::regex("listening on http://127\\.0\\.0\\.1:(\\d+)"));
    ASSERT_FALSE(match.empty()) << child.err();
    int port = std::stoi(match[1]);

    httplib::Client client("127.0.0.1", port);
    Answer answer = toAnswer(client.Post("/v1/fix", {{"Authorization", "Bearer " + key}}, fixBody("hello  world. i think teh report is redy."),
                                         "application/json"));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json()["corrected"], "Hello world. I think the report is ready.");  // with the dictionary

    child.signal(GetParam());
    EXPECT_EQ(child.wait(), 0) << child.err();
    EXPECT_THAT(child.err(), HasSubstr("stopped"));
    EXPECT_EQ(child.err().find(key), std::string::npos);
    EXPECT_EQ(child.err().find("hello"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Program, ProgramSignal, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? std::string("SIGTERM") : std::string("SIGINT"); });

}  // namespace
