// The quillant-service program, run as a child process.
#include "ServiceTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

using namespace quillant::service::testing;
using ::testing::HasSubstr;

namespace {

// A child with its standard output and error captured.
class Child {
public:
    Child(std::vector<std::string> args, std::vector<std::string> env) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        args.insert(args.begin(), QUILLANT_SERVICE_EXE);
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, QUILLANT_SERVICE_EXE, &actions, nullptr, argv.data(), envp.data()) != 0)
            throw std::runtime_error("spawn");
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    // Reads standard error until it holds `pattern` or ten seconds pass.
    std::smatch waitForError(const std::regex& pattern) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::smatch match;
        while (!std::regex_search(stderr_, match, pattern) && std::chrono::steady_clock::now() < deadline)
            if (!readSome(err_, stderr_, 100)) break;
        return match;
    }

    // Waits up to ten seconds for the exit; returns the exit status or -1.
    int wait() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                while (readSome(out_, stdout_, 0)) {}
                while (readSome(err_, stderr_, 0)) {}
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            readSome(err_, stderr_, 10);
            readSome(out_, stdout_, 10);
        }
        return -1;
    }

    void signal(int sig) { ::kill(pid_, sig); }
    const std::string& out() const { return stdout_; }
    const std::string& err() const { return stderr_; }

private:
    static bool readSome(int fd, std::string& into, int timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return timeoutMs > 0;
        char buffer[4096];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        into.append(buffer, std::size_t(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string stdout_, stderr_;
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
