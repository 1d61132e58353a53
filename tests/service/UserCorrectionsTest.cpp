// The user's choice of corrector, as the service reads it from their settings folder.
#include "service/UserCorrections.h"

#include "testsupport/RecordingLogger.h"
#include "testsupport/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace quillant::service;
using quillant::testing::RecordingLogger;
using quillant::testing::TempDir;
using quillant::testing::writeFile;

namespace {

struct ParseCase {
    const char* name;
    std::string settings;
    CorrectionsChoice expected;
    std::string ignored;  // what the first ignored line says; empty: nothing ignored
};

CorrectionsChoice model(CorrectionSource source, std::string url, std::string name, int timeoutMs = 8000) {
    CorrectionsChoice c;
    c.source = source;
    c.modelURL = std::move(url);
    c.modelName = std::move(name);
    c.timeout = std::chrono::milliseconds(timeoutMs);
    return c;
}

class ParseCorrections : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCorrections, NonsenseLeavesTheDefaultAndIsNamed) {
    ParsedCorrections parsed = parseCorrections(GetParam().settings);
    EXPECT_EQ(parsed.choice, GetParam().expected);
    if (GetParam().ignored.empty()) {
        EXPECT_TRUE(parsed.ignored.empty()) << ::testing::PrintToString(parsed.ignored);
    } else {
        ASSERT_FALSE(parsed.ignored.empty());
        EXPECT_THAT(parsed.ignored[0], ::testing::HasSubstr(GetParam().ignored));
    }
}

const auto kLocal = CorrectionSource::localModel;
const auto kHosted = CorrectionSource::hostedModel;
const std::string kOllama{kDefaultLocalModelURL};

INSTANTIATE_TEST_SUITE_P(
    UserCorrections, ParseCorrections,
    ::testing::Values(
        ParseCase{"no_corrections", R"({"hotkey": {}})", {}, ""},
        ParseCase{"local_model", R"({"corrections": {"source": "local-model", "modelName": "llama3.2"}})",
                  model(kLocal, kOllama, "llama3.2"), ""},
        ParseCase{"hosted_model",
                  R"({"corrections": {"source": "hosted-model", "modelURL": "https://api.example.com/v1/", "modelName": "m", "timeoutSeconds": 2.5}})",
                  model(kHosted, "https://api.example.com/v1", "m", 2500), ""},
        ParseCase{"not_json", "{\n \"corrections\": {\n  \"source\": offline\n}", {}, "settings.json line 3: not JSON"},
        ParseCase{"not_an_object", "[1, 2]", {}, "not a JSON object"},
        ParseCase{"unknown_source", R"({"corrections": {"source": "oracle"}})", {}, "corrections.source \"oracle\""},
        ParseCase{"bad_language", R"({"corrections": {"language": "../../etc"}})", {}, "corrections.language"},
        ParseCase{"bad_timeout", R"({"corrections": {"timeoutSeconds": -3}})", {}, "corrections.timeoutSeconds -3"},
        ParseCase{"hosted_over_http",
                  R"({"corrections": {"source": "hosted-model", "modelURL": "http://api.example.com/v1", "modelName": "m"}})",
                  model(CorrectionSource::offline, "http://api.example.com/v1", "m"), "over https only"},
        ParseCase{"local_http_elsewhere",
                  R"({"corrections": {"source": "local-model", "modelURL": "http://192.168.1.5:11434/v1", "modelName": "m"}})",
                  model(CorrectionSource::offline, "http://192.168.1.5:11434/v1", "m"), "plain http goes to this computer only"},
        ParseCase{"model_without_name", R"({"corrections": {"source": "local-model"}})", {}, "no model name"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProviderKey, OnlyAPrivateFileOfTheUsersIsRead) {
    TempDir dir;
    auto file = dir / "provider-key";
    EXPECT_EQ(readProviderKey(file).key, "");
    EXPECT_EQ(readProviderKey(file).problem, "");

    writeFile(file, "  sk-secret\n");
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(readProviderKey(file).key, "sk-secret");

    for (mode_t mode : {0640, 0604}) {
        ::chmod(file.c_str(), mode);
        EXPECT_EQ(readProviderKey(file).key, "") << mode;
        EXPECT_THAT(readProviderKey(file).problem, ::testing::HasSubstr("is refused")) << mode;
    }
    ::chmod(file.c_str(), 0600);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
        EXPECT_EQ(readProviderKey(file).key, "");
        ASSERT_EQ(::chown(file.c_str(), 0, 0), 0);
    }
    auto link = dir / "linked-key";
    std::filesystem::create_symlink(file, link);
    EXPECT_EQ(readProviderKey(link).key, "") << "a link could point anywhere";
}

TEST(UserCorrectionsFiles, AChangeAppliesToTheNextLookUp) {
    TempDir dir;
    RecordingLogger log;
    UserCorrections user(dir.path(), log);
    EXPECT_EQ(user.current().choice.source, CorrectionSource::offline);
    writeFile(dir / "settings.json", R"({"corrections": {"source": "local-model", "modelName": "tiny"}})");
    EXPECT_EQ(user.current().choice.source, CorrectionSource::localModel);
    EXPECT_TRUE(log.contains("corrections now come from local-model (tiny at " + kOllama + ")"));
    writeFile(dir / "provider-key", "sk-1");
    ::chmod((dir / "provider-key").c_str(), 0644);
    EXPECT_EQ(user.current().key.key, "");
    ::chmod((dir / "provider-key").c_str(), 0600);  // a chmod alone is seen too
    EXPECT_EQ(user.current().key.key, "sk-1");
}

}  // namespace
