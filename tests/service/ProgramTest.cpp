// The quillant-service program, run as a child process.
#include "ServiceTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <regex>

#include "testsupport/PlainHttpServer.h"
#include "testsupport/Process.h"
#include "testsupport/TestHttpsServer.h"

using namespace quillant::service::testing;
using quillant::testing::Process;
using quillant::testing::ProcessOptions;
using ::testing::HasSubstr;
using ::testing::Not;
using quillant::testing::PlainHttpServer;
using quillant::testing::ScriptedReply;
using quillant::testing::TestHttpsServer;

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

    // What it wrote to standard error until now (and within `bound`).
    const std::string& errorsSoFar(std::chrono::milliseconds bound) {
        process_.waitForErrors([](const std::string&) { return false; }, bound);
        return process_.errors();
    }

    // Waits up to thirty seconds for the exit (a sanitised build on a busy
    // machine loads its dictionaries slowly); returns the exit status or -1.
    int wait() {
        int status = process_.finish(std::chrono::seconds(30));
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

// The model's side of one chat completion.
std::string completion(const std::string& content) {
    return nlohmann::json({{"choices", {{{"message", {{"role", "assistant"}, {"content", content}}}}}}}).dump();
}

// The service started as quillant starts it, with the user's settings folder.
class UserConfigTest : public ProgramTest {
protected:
    std::filesystem::path userDir() { return dir / "config/quillant"; }
    void choose(const std::string& corrections) {
        std::filesystem::create_directories(userDir());
        writeFile(userDir() / "settings.json", corrections);
    }
    void setProviderKey(const std::string& key, mode_t mode = 0600) {
        writeFile(userDir() / "provider-key", key);
        ::chmod((userDir() / "provider-key").c_str(), mode);
    }
    static std::string modelChoice(const std::string& source, const std::string& url) {
        return R"({"corrections": {"source": ")" + source + R"(", "modelURL": ")" + url +
               R"(", "modelName": "tiny-model", "timeoutSeconds": 5}})";
    }

    void startService(std::vector<std::string> extra = {}) {
        {
            Child add({"--add-key"}, env());
            ASSERT_EQ(add.wait(), 0);
            key_ = add.out().substr(0, add.out().size() - 1);
        }
        std::vector<std::string> args{"--port", "0", "--user-config", userDir().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        service_.emplace(args, env());
        auto match = service_->waitForError(std::regex("listening on http://127\\.0\\.0\\.1:(\\d+)"));
        ASSERT_FALSE(match.empty()) << service_->err();
        port_ = std::stoi(match[1]);
    }
    Answer fix(const std::string& text) {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(std::chrono::seconds(30));
        return toAnswer(client.Post("/v1/fix", {{"Authorization", "Bearer " + key_}}, fixBody(text), "application/json"));
    }
    std::string serviceLog() {
        return service_->errorsSoFar(std::chrono::milliseconds(300));
    }

    std::optional<Child> service_;
    std::string key_;
    int port_ = 0;
};

TEST_F(UserConfigTest, ALocalModelCorrectsWithoutTheProviderKeyAndAStoppedOneFallsBackOffline) {
    auto model = std::make_unique<PlainHttpServer>("127.0.0.1", 0, [](const std::string&) {
        return PlainHttpServer::reply(200, "Content-Type: application/json\r\n", completion("She doesn't like it."));
    });
    std::string url = model->baseURL() + "/v1";
    choose(modelChoice("local-model", url));
    setProviderKey("pk-secret");
    startService();

    Answer answer = fix("she dont like it");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.json()["corrected"], "She doesn't like it.");
    EXPECT_FALSE(answer.json().contains("note"));
    std::string sent = model->allBytes();
    EXPECT_THAT(sent, HasSubstr("POST /v1/chat/completions"));
    EXPECT_THAT(sent, HasSubstr(R"("model":"tiny-model")"));
    EXPECT_THAT(sent, HasSubstr(R"("temperature":0)"));
    EXPECT_THAT(sent, ::testing::ContainsRegex(R"(<<<TEXT [0-9a-f]+\\nshe dont like it\\nTEXT [0-9a-f]+>>>)"));
    EXPECT_THAT(sent, Not(HasSubstr("pk-secret")));

    model.reset();
    answer = fix("she dont like it");
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json()["note"], "Corrected offline — the model at " + url + " did not answer");
    EXPECT_THAT(serviceLog(), HasSubstr("Corrected offline — the model at " + url + " did not answer"));

    // Back to the dictionary, with no restart.
    choose(R"({"corrections": {"source": "offline", "language": "en_GB"}})");
    answer = fix("i realy like teh colour");
    EXPECT_EQ(answer.json()["corrected"], "I really like the colour");
    EXPECT_FALSE(answer.json().contains("note"));
    EXPECT_THAT(serviceLog(), Not(HasSubstr("she dont")));
}

struct HostedCase {
    const char* name;
    int status;        // the model's answer
    mode_t keyMode;    // the provider key file's
    std::string note;  // empty: the model's correction is used
};

class HostedModel : public UserConfigTest, public ::testing::WithParamInterface<HostedCase> {};

TEST_P(HostedModel, GetsTheProviderKeyOverTls) {
    TestHttpsServer model;
    model.setHandler([&](const quillant::testing::ReceivedRequest&) {
        return ScriptedReply::json(GetParam().status, GetParam().status == 200 ? completion("She doesn't like it.") : "{}");
    });
    std::string url = model.baseURL() + "/v1";
    choose(modelChoice("hosted-model", url));
    setProviderKey("pk-secret\n", GetParam().keyMode);
    startService({"--upstream-ca-file", model.caFile().string()});

    Answer answer = fix("she dont like it");
    ASSERT_EQ(answer.status, 200) << answer.body;
    std::string note = GetParam().note;
    if (!note.empty()) note = "Corrected offline — " + (note[0] == ' ' ? "the model at " + url + note : note);
    EXPECT_THAT(answer.json().value("note", ""), ::testing::StartsWith(note));
    EXPECT_EQ(answer.json().contains("note"), !note.empty());
    if (GetParam().keyMode != 0600) {
        EXPECT_EQ(model.requestCount(), 0u);
        return;
    }
    ASSERT_EQ(model.requestCount(), 1u);
    auto request = model.received()[0];
    EXPECT_EQ(request.header("Authorization"), "Bearer pk-secret");
    EXPECT_EQ(nlohmann::json::parse(request.body)["model"], "tiny-model");
    if (note.empty()) {
        EXPECT_EQ(answer.json()["corrected"], "She doesn't like it.");
    }
    EXPECT_THAT(serviceLog(), Not(HasSubstr("pk-secret")));
}

INSTANTIATE_TEST_SUITE_P(
    Program, HostedModel,
    ::testing::Values(HostedCase{"corrects", 200, 0600, ""},
                      HostedCase{"refused_key", 401, 0600, " refused the key"},
                      HostedCase{"key_file_readable_by_others", 200, 0644,
                                 "the provider key file " }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserConfigTest, NonsenseInTheSettingsLeavesTheDefaultsAndSaysWhichLine) {
    choose("{\n  \"corrections\": {\n    \"source\": \"local-model\",\n    oops\n");
    startService();
    Answer answer = fix("i realy like it");
    EXPECT_EQ(answer.status, 200);
    EXPECT_FALSE(answer.json().contains("note"));
    EXPECT_THAT(serviceLog(), HasSubstr("settings.json line 4: not JSON; the default corrections apply"));
}

TEST_F(UserConfigTest, TryItShowsTheSampleCorrectedOrTheExactError) {
    PlainHttpServer model("127.0.0.1", 0, [](const std::string&) {
        return PlainHttpServer::reply(404, "Content-Type: application/json\r\n", R"({"error":"model not found"})");
    });
    std::string url = model.baseURL() + "/v1";
    choose(modelChoice("local-model", url));
    Child child({"--try-corrections", "--user-config", userDir().string()}, env());
    EXPECT_EQ(child.wait(), 1);
    EXPECT_EQ(child.out(), "The model at " + url + " has no model named tiny-model\n");

    choose(R"({"corrections": {"source": "offline"}})");
    Child offline({"--try-corrections", "--user-config", userDir().string()}, env());
    EXPECT_EQ(offline.wait(), 0) << offline.out();
    EXPECT_THAT(offline.out(), ::testing::StartsWith("i think teh report"));
}

TEST_F(UserConfigTest, TheProviderKeyGoesOnlyToTheSavedHostedModel) {
    TestHttpsServer model;
    model.setHandler([](const quillant::testing::ReceivedRequest&) {
        return ScriptedReply::json(200, R"({"data":[{"id":"m1"},{"id":"m2"}]})");
    });
    const std::string saved = model.baseURL() + "/v1";
    choose(modelChoice("hosted-model", saved));
    setProviderKey("pk-secret");
    for (const std::string& url : {saved, model.baseURL() + "/elsewhere/v1"}) {
        Child child({"--list-models", url, "--user-config", userDir().string(), "--upstream-ca-file", model.caFile().string()}, env());
        EXPECT_EQ(child.wait(), 0) << child.err();
        EXPECT_EQ(child.out(), "m1\nm2\n");
    }
    auto received = model.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].target, "/v1/models");
    EXPECT_EQ(received[0].header("Authorization"), "Bearer pk-secret");
    EXPECT_EQ(received[1].header("Authorization"), std::nullopt);
}

}  // namespace
