// The local corrector started on demand: the real quillant-service, started
// detached, in a private runtime folder of a temporary home.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "backend/BackendClient.h"
#include "backend/BackendProtocol.h"
#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/LocalServiceProcess.h"
#include "platform/linux/PrivateRuntimeDir.h"
#include "platform/linux/RunLoop.h"
#include "runtime/Logger.h"
#include "testsupport/Process.h"
#include "testsupport/RecordingLogger.h"
#include "testsupport/TempDir.h"

namespace fs = std::filesystem;
using namespace quillant;
using namespace quillant::linux_platform;
using namespace std::chrono_literals;
using quillant::testing::readFile;
using quillant::testing::RecordingLogger;
using quillant::testing::TempDir;

namespace {

// The correctors serving `socket`.
std::vector<pid_t> correctorsOn(const fs::path& socket) {
    return quillant::testing::processesRunning(QUILLANT_SERVICE_EXE, socket.string());
}

bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 200; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

class LocalServiceProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
        command.executable = QUILLANT_SERVICE_EXE;
        command.socket = localServiceSocket((dir / "run").c_str());
        command.keysFile = dir / "home/.config/quillant/service-keys";
        command.userConfig = dir / "home/.config/quillant";
        command.idleExit = 30s;
    }
    void TearDown() override { quillant::testing::stopProcessesRunning(QUILLANT_SERVICE_EXE, command.socket.string()); }

    // Each starter's ensureRunning at once, to the end.
    std::vector<std::optional<std::string>> ensureAll(std::vector<LocalServiceProcess*> starters) {
        std::vector<std::optional<std::string>> outcomes(starters.size(), std::string("unfinished"));
        std::size_t done = 0;
        for (std::size_t i = 0; i < starters.size(); ++i)
            spawn(loop, [&, i]() -> Task<void> {
                outcomes[i] = co_await starters[i]->ensureRunning();
                ++done;
            });
        loop.runUntil([&] { return done == starters.size(); }, 20s);
        return outcomes;
    }

    TempDir dir;
    LocalServiceCommand command;
    RunLoop loop;
    RecordingLogger logs;
};

TEST_F(LocalServiceProcessTest, RacingStartersLeaveOneCorrectorAndADeadOneIsStartedAgain) {
    std::string error;
    const auto key = provisionLocalKey(dir / "home", command.keysFile, error);
    ASSERT_TRUE(key) << error;
    // Two quillants of one user need it at the same moment.
    LocalServiceProcess first(command, logs), second(command, logs);
    for (const auto& outcome : ensureAll({&first, &second})) EXPECT_EQ(outcome, std::nullopt) << *outcome;
    ASSERT_TRUE(eventually([&] { return correctorsOn(command.socket).size() == 1; }));

    const pid_t dead = correctorsOn(command.socket).front();
    ::kill(dead, SIGKILL);
    // A killed process leaves /proc (its exe link) a moment before its
    // descriptors close, so the socket may answer a little longer.
    ASSERT_TRUE(eventually([&] { return correctorsOn(command.socket).empty() && !unixSocketAnswers(command.socket); }));

    // The next need starts another, which knows the provisioned key.
    EXPECT_EQ(ensureAll({&first}).front(), std::nullopt);
    ASSERT_EQ(correctorsOn(command.socket).size(), 1u);
    EXPECT_NE(correctorsOn(command.socket).front(), dead);
    auto session = std::make_shared<CurlHttpSession>(loop);
    const backend::BackendClient client{backend::localSocketURL(command.socket.string()), *key, 10.0, session};
    std::optional<backend::ValidationOutcome> outcome;
    spawn(loop, [&]() -> Task<void> { outcome = co_await client.validateToken(); });
    loop.runUntil([&] { return outcome.has_value(); }, 20s);
    EXPECT_EQ(outcome, backend::ValidationOutcome::valid);
}

TEST_F(LocalServiceProcessTest, AMissingCorrectorIsSaidPlainly) {
    command.executable = dir / "nowhere/quillant-service";
    LocalServiceProcess starter(command, logs);
    const auto outcome = ensureAll({&starter}).front();
    ASSERT_TRUE(outcome);
    EXPECT_NE(outcome->find("The local corrector is missing: " + command.executable.string()), std::string::npos);
}

TEST(LocalKey, IsMadeOnceListedOnceAndKeptApartFromTheApiKey) {
    TempDir dir;
    const fs::path keys = dir / "config/quillant/service-keys";
    std::string error;
    const auto key = provisionLocalKey(dir.path(), keys, error);
    ASSERT_TRUE(key) << error;
    EXPECT_EQ(provisionLocalKey(dir.path(), keys, error), key);
    EXPECT_EQ(readFile(keys), *key + "\n");
    EXPECT_EQ(fs::status(keys).permissions(), fs::perms(0600));
    EXPECT_EQ(fs::status(keys.parent_path()).permissions(), fs::perms(0700));
    EXPECT_EQ(readFile(dir / ".config/quillant" / kLocalKeyFileName), *key);
    EXPECT_FALSE(fs::exists(dir / ".config/quillant/token"));
    // A keys file others can read is not written to.
    fs::permissions(keys, fs::perms(0644), fs::perm_options::replace);
    fs::remove(dir / ".config/quillant" / kLocalKeyFileName);
    EXPECT_EQ(provisionLocalKey(dir.path(), keys, error), std::nullopt);
    EXPECT_NE(error.find("chmod 600"), std::string::npos);
}

}  // namespace
