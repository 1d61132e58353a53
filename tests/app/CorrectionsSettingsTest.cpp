#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "app/CorrectionsSettings.h"
#include "testsupport/FakeDefaultsStore.h"
#include "testsupport/TempDir.h"

using namespace quillant::app;
using quillant::testing::FakeDefaultsStore;
using quillant::testing::TempDir;

namespace {

struct ProblemRow {
    const char* name;
    std::string source, url, model;
    std::string problem;  // a part of it; empty: can be saved
};

class CorrectionsProblem : public ::testing::TestWithParam<ProblemRow> {};

TEST_P(CorrectionsProblem, RefusesWhatWouldSendTextOrKeysInTheClear) {
    CorrectionsSettings s;
    s.source = GetParam().source;
    s.modelURL = GetParam().url;
    s.modelName = GetParam().model;
    std::string problem = correctionsProblem(s);
    if (GetParam().problem.empty()) EXPECT_EQ(problem, "");
    else EXPECT_THAT(problem, ::testing::HasSubstr(GetParam().problem));
}

INSTANTIATE_TEST_SUITE_P(
    Corrections, CorrectionsProblem,
    ::testing::Values(ProblemRow{"offline", "offline", "http://example.com", "", ""},
                      ProblemRow{"local_loopback", "local-model", "http://127.0.0.1:11434/v1", "llama3.2", ""},
                      ProblemRow{"local_https_elsewhere", "local-model", "https://gpu.lan/v1", "m", ""},
                      ProblemRow{"local_http_elsewhere", "local-model", "http://192.168.1.9:11434/v1", "m", "this computer only"},
                      ProblemRow{"local_no_model", "local-model", "http://localhost:8080/v1", "", "choose a model"},
                      ProblemRow{"hosted_https", "hosted-model", "https://api.example.com/v1", "m", ""},
                      ProblemRow{"hosted_http_loopback", "hosted-model", "http://127.0.0.1:8080/v1", "m", "https only"},
                      ProblemRow{"hosted_not_a_url", "hosted-model", "api.example.com", "m", "https only"},
                      ProblemRow{"unknown_source", "oracle", "", "", "offline, local-model or hosted-model"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Corrections, RoundTripThroughTheSettings) {
    FakeDefaultsStore store;
    EXPECT_EQ(loadCorrections(store), CorrectionsSettings{});
    CorrectionsSettings s{"hosted-model", "en_GB", "https://api.example.com/v1", "m", 2.5};
    saveCorrections(store, s);
    EXPECT_EQ(loadCorrections(store), s);
}

TEST(Corrections, TheProviderKeyIsPrivateAndReplacedWhole) {
    TempDir home;
    auto dir = home / "config/quillant";
    EXPECT_FALSE(hasProviderKey(dir));
    EXPECT_EQ(saveProviderKey(dir, "sk-1"), "");
    EXPECT_EQ(saveProviderKey(dir, "sk-2"), "");
    EXPECT_EQ(quillant::testing::readFile(dir / "provider-key"), "sk-2\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "provider-key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(saveProviderKey(dir, "two\nlines"), "");
    EXPECT_EQ(quillant::testing::readFile(dir / "provider-key"), "sk-2\n");
}

}  // namespace
