// The wire contract, exercised over real loopback sockets.
#include "ServiceTestSupport.h"

#include "service/RuleCorrector.h"
#include "testsupport/RecordingLogger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <regex>

using namespace quillant::service;
using namespace quillant::service::testing;
using quillant::testing::RecordingLogger;
using nlohmann::json;

namespace {

constexpr const char* kKey = "qk_alpha_0123456789";
constexpr const char* kOtherKey = "qk_beta_9876543210";

// Fails the way a scripted test wants.
class ScriptedCorrector final : public Corrector {
public:
    std::function<std::string(std::string_view)> behaviour = [](std::string_view t) { return std::string(t); };
    std::string correct(std::string_view text) override { return behaviour(text); }
};

class ServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

    ServiceTest() {
        writeFile(dir / "keys", std::string("# team keys\n\n") + kKey + "\n  " + kOtherKey + "  \n");
        config.port = 0;
        config.keysFile = dir / "keys";
    }

    RunningService& start(Corrector* with = nullptr) {
        keys = std::make_unique<KeyStore>(config.keysFile, log);
        quota = std::make_unique<QuotaTracker>(config.quota, clock.source());
        running = std::make_unique<RunningService>(config, *keys, *quota, with ? *with : rules, log);
        return *running;
    }

    httplib::Client client() { return httplib::Client("127.0.0.1", running->port()); }

    Answer fix(const std::string& text, const std::string& key = kKey) {
        return toAnswer(client().Post("/v1/fix", {{"Authorization", "Bearer " + key}}, fixBody(text), "application/json"));
    }

    TempDir dir;
    ServiceConfig config;
    RecordingLogger log;
    ManualClock clock{sampleTime()};
    RuleCorrector rules;
    ScriptedCorrector scripted;
    std::unique_ptr<KeyStore> keys;
    std::unique_ptr<QuotaTracker> quota;
    std::unique_ptr<RunningService> running;
};

// Every non-200 answer must decode as the client's error envelope and carry
// the same request id as its header.
void expectEnvelope(const Answer& answer, const std::string& code) {
    json body = answer.json();
    ASSERT_TRUE(body.is_object()) << answer.body;
    ASSERT_TRUE(body["error"].is_string());
    ASSERT_TRUE(body["message"].is_string());
    EXPECT_EQ(body["error"], code) << answer.body;
    EXPECT_FALSE(body["message"].get<std::string>().empty());
    ASSERT_TRUE(body["request_id"].is_string());
    EXPECT_EQ(body["request_id"], answer.header("X-Request-Id"));
}

struct ContractCase {
    const char* name;
    std::string method;
    std::string path;
    std::optional<std::string> authorization;
    std::string body;
    int status;
    std::string errorCode;  // empty for 200
};

class Contract : public ServiceTest, public ::testing::WithParamInterface<ContractCase> {};

TEST_P(Contract, AnswersWithTheMappedStatusAndEnvelope) {
    const auto& c = GetParam();
    start();
    httplib::Request request;
    request.method = c.method;
    request.path = c.path;
    if (c.authorization) request.set_header("Authorization", *c.authorization);
    if (!c.body.empty()) {
        request.body = c.body;
        request.set_header("Content-Type", "application/json");
    }
    Answer answer = toAnswer(client().send(request));
    EXPECT_EQ(answer.status, c.status) << answer.body;
    EXPECT_THAT(answer.header("X-Request-Id"), ::testing::MatchesRegex("req_[0-9a-f]{16}"));
    if (c.status != 200) {
        expectEnvelope(answer, c.errorCode);
        EXPECT_FALSE(answer.json().contains("reset_at"));
    }
}

const std::string kBearer = std::string("Bearer ") + kKey;

INSTANTIATE_TEST_SUITE_P(
    Service, Contract,
    ::testing::Values(
        ContractCase{"fix_ok", "POST", "/v1/fix", kBearer, fixBody("hello"), 200, ""},
        ContractCase{"fix_second_key_with_blanks_in_file", "POST", "/v1/fix", std::string("Bearer ") + kOtherKey,
                     fixBody("x"), 200, ""},
        ContractCase{"fix_lowercase_scheme", "POST", "/v1/fix", std::string("bearer ") + kKey, fixBody("x"), 200, ""},
        ContractCase{"fix_without_authorization", "POST", "/v1/fix", std::nullopt, fixBody("x"), 401, "missing_key"},
        ContractCase{"fix_basic_auth", "POST", "/v1/fix", "Basic YTpi", fixBody("x"), 401, "missing_key"},
        ContractCase{"fix_empty_bearer", "POST", "/v1/fix", "Bearer ", fixBody("x"), 401, "missing_key"},
        ContractCase{"fix_unknown_key", "POST", "/v1/fix", "Bearer qk_nope", fixBody("x"), 403, "invalid_key"},
        ContractCase{"fix_comment_is_no_key", "POST", "/v1/fix", "Bearer # team keys", fixBody("x"), 403, "invalid_key"},
        ContractCase{"fix_key_prefix_is_no_key", "POST", "/v1/fix", "Bearer qk_alpha", fixBody("x"), 403, "invalid_key"},
        ContractCase{"fix_not_json", "POST", "/v1/fix", kBearer, "text=hello", 400, "invalid_request"},
        ContractCase{"fix_text_missing", "POST", "/v1/fix", kBearer, R"({"txt":"a"})", 400, "invalid_request"},
        ContractCase{"fix_text_not_string", "POST", "/v1/fix", kBearer, R"({"text":42})", 400, "invalid_request"},
        ContractCase{"fix_array_body", "POST", "/v1/fix", kBearer, R"(["text"])", 400, "invalid_request"},
        ContractCase{"fix_invalid_utf8", "POST", "/v1/fix", kBearer, "{\"text\":\"a\xff\"}", 400, "invalid_request"},
        ContractCase{"fix_1501_characters", "POST", "/v1/fix", kBearer, fixBody(std::string(1501, 'a')), 400,
                     "text_too_long"},
        ContractCase{"fix_body_beyond_any_text", "POST", "/v1/fix", kBearer, fixBody(std::string(400'000, 'a')), 400,
                     "text_too_long"},
        ContractCase{"fix_with_get", "GET", "/v1/fix", kBearer, "", 405, "method_not_allowed"},
        ContractCase{"validate_ok", "GET", "/v1/validate", kBearer, "", 200, ""},
        ContractCase{"validate_without_authorization", "GET", "/v1/validate", std::nullopt, "", 401, "missing_key"},
        ContractCase{"validate_unknown_key", "GET", "/v1/validate", "Bearer qk_nope", "", 403, "invalid_key"},
        ContractCase{"version_without_release", "GET", "/v1/version", std::nullopt, "", 404, "no_release"},
        ContractCase{"fix_language_auto", "POST", "/v1/fix", kBearer, R"({"text":"x","language":"auto"})", 200, ""},
        ContractCase{"fix_language_installed", "POST", "/v1/fix", kBearer, R"({"text":"x","language":"en_GB"})", 200, ""},
        ContractCase{"fix_language_unknown", "POST", "/v1/fix", kBearer, R"({"text":"x","language":"xx_YY"})", 400,
                     "unknown_language"},
        ContractCase{"fix_language_not_string", "POST", "/v1/fix", kBearer, R"({"text":"x","language":["en_GB"]})", 400,
                     "unknown_language"},
        ContractCase{"languages_without_authorization", "GET", "/v1/languages", std::nullopt, "", 401, "missing_key"},
        ContractCase{"languages_with_post", "POST", "/v1/languages", kBearer, "", 405, "method_not_allowed"},
        ContractCase{"unknown_path", "GET", "/v2/fix", kBearer, "", 404, "not_found"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, FixAnswersTheCorrectedText) {
    start();
    Answer answer = fix("i think teh the report is  ready , @jane");
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), json({{"corrected", "I think the report is ready, @jane"}}));
    EXPECT_EQ(answer.header("Cache-Control"), "no-store");
}

// The request's "language" reaches the corrector; /v1/languages lists what it may be.
TEST_F(ServiceTest, ChosenLanguageReachesTheCorrector) {
    struct Recording final : Corrector {
        std::string language = "none";
        std::string correct(std::string_view text) override { return std::string(text); }
        std::string correctIn(std::string_view text, const std::string& chosen) override {
            language = chosen;
            return std::string(text);
        }
    } recording;
    start(&recording);
    auto post = [&](const std::string& body) {
        return client().Post("/v1/fix", {{"Authorization", kBearer}}, body, "application/json");
    };
    EXPECT_EQ(toAnswer(post(R"({"text":"x","language":"en_GB"})")).status, 200);
    EXPECT_EQ(recording.language, "en_GB");
    EXPECT_EQ(toAnswer(post(R"({"text":"x"})")).status, 200);
    EXPECT_EQ(recording.language, "");
    Answer languages = toAnswer(client().Get("/v1/languages", {{"Authorization", kBearer}}));
    ASSERT_EQ(languages.status, 200);
    EXPECT_EQ(languages.json()["languages"], json(Speller::installedLanguages()));
    EXPECT_NE(languages.body.find("\"en_GB\""), std::string::npos);
    running.reset();  // stopped while its corrector, a local here, still exists
}

TEST_F(ServiceTest, LengthIsCountedInUserPerceivedCharacters) {
    start();
    std::string thumbs;
    for (int i = 0; i < 1500; ++i) thumbs += "\U0001F44D\U0001F3FD";  // 8 bytes, one character each
    Answer ok = fix(thumbs);
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.json()["corrected"], thumbs);
    expectEnvelope(fix(thumbs + "!"), "text_too_long");
}

TEST_F(ServiceTest, MaxCharsIsConfigurable) {
    config.maxChars = 10;
    start();
    EXPECT_EQ(fix("0123456789").status, 200);
    Answer tooLong = fix("0123456789a");
    EXPECT_EQ(tooLong.status, 400);
    expectEnvelope(tooLong, "text_too_long");
}

TEST_F(ServiceTest, ValidateAnswersValidTrue) {
    start();
    Answer answer = toAnswer(client().Get("/v1/validate", {{"Authorization", kBearer}}));
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), json({{"valid", true}}));
}

TEST_F(ServiceTest, VersionAnnouncesTheConfiguredReleaseWithoutAuthentication) {
    config.release = Release{"1.4.0", "https://downloads.example.com/quillant-1.4.0.zip"};
    start();
    Answer answer = toAnswer(client().Get("/v1/version"));
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(), json({{"version", "1.4.0"}, {"download_url", "https://downloads.example.com/quillant-1.4.0.zip"}}));
}

TEST_F(ServiceTest, CorrectorFailuresBecomeServerErrorsWithTheirStatus) {
    auto& failing = scripted;
    start(&failing);
    for (auto [status, code] : {std::pair{502, "upstream_error"}, {504, "upstream_timeout"}, {503, "busy"}}) {
        failing.behaviour = [status = status, code = code](std::string_view) -> std::string {
            throw CorrectionError(status, code, "it broke");
        };
        Answer answer = fix("hello");
        EXPECT_EQ(answer.status, status);
        expectEnvelope(answer, code);
        EXPECT_EQ(answer.json()["message"], "it broke");
    }
    failing.behaviour = [](std::string_view) -> std::string { throw std::runtime_error("bug"); };
    Answer answer = fix("hello");
    EXPECT_EQ(answer.status, 500);
    expectEnvelope(answer, "internal_error");
}

TEST_F(ServiceTest, QuotaRunsOutAndResetsAtTheWindowEnd) {
    config.quota = {2, std::chrono::hours(1)};
    start();
    EXPECT_EQ(fix("a").status, 200);
    EXPECT_EQ(fix("b").status, 200);

    Answer spent = fix("c");
    ASSERT_EQ(spent.status, 429);
    expectEnvelope(spent, "quota_exceeded");
    EXPECT_EQ(spent.json()["reset_at"], "2024-05-01T11:00:00Z");
    EXPECT_EQ(spent.header("Retry-After"), "1800");

    // Other keys have their own count; validation is not a fix.
    EXPECT_EQ(fix("d", kOtherKey).status, 200);
    EXPECT_EQ(toAnswer(client().Get("/v1/validate", {{"Authorization", kBearer}})).status, 200);

    clock.advance(std::chrono::minutes(29) + std::chrono::seconds(59));
    EXPECT_EQ(fix("e").status, 429);
    clock.advance(std::chrono::seconds(1));
    EXPECT_EQ(fix("f").status, 200);
    EXPECT_EQ(fix("g").status, 200);
    EXPECT_EQ(fix("h").json()["reset_at"], "2024-05-01T12:00:00Z");
}

TEST_F(ServiceTest, RefusedAndFailedFixesDoNotCountAgainstTheQuota) {
    config.quota = {1, std::chrono::hours(24)};
    auto& corrector = scripted;
    start(&corrector);
    corrector.behaviour = [](std::string_view) -> std::string { throw CorrectionError(502, "upstream_error", "down"); };
    EXPECT_EQ(fix("a").status, 502);
    EXPECT_EQ(fix(std::string(2000, 'a')).status, 400);
    corrector.behaviour = [](std::string_view t) { return std::string(t); };
    EXPECT_EQ(fix("b").status, 200);
    Answer spent = fix("c");
    EXPECT_EQ(spent.status, 429);
    EXPECT_EQ(spent.json()["reset_at"], "2024-05-02T00:00:00Z");
}

TEST_F(ServiceTest, QuotaZeroMeansNoLimit) {
    config.quota = {0, std::chrono::hours(1)};
    start();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(fix("a").status, 200);
}

TEST_F(ServiceTest, KeysAddedToTheFileWhileRunningAreAccepted) {
    start();
    EXPECT_EQ(fix("a", "qk_new").status, 403);
    std::string added = KeyStore::addNewKey(config.keysFile);
    EXPECT_EQ(fix("a", added).status, 200);
    // Removing a key revokes it.
    writeFile(config.keysFile, std::string(kOtherKey) + "\n");
    EXPECT_EQ(fix("a", added).status, 403);
    EXPECT_EQ(fix("a", kOtherKey).status, 200);
}

TEST_F(ServiceTest, AVanishedKeysFileKeepsTheKeysReadBefore) {
    start();
    std::filesystem::remove(config.keysFile);
    EXPECT_EQ(fix("a").status, 200);
    EXPECT_TRUE(log.contains("keeping the keys read before"));
}

TEST_F(ServiceTest, NeitherKeysNorTextsAreLogged) {
    start();
    fix("secret words here");
    fix("secret words here", "qk_wrong_key_value");
    toAnswer(client().Get("/v1/validate", {{"Authorization", kBearer}}));
    running->stop();  // access lines are written after the answer; stopping waits for them
    ASSERT_FALSE(log.messages().empty());
    for (const auto& line : log.messages()) {
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
        EXPECT_EQ(line.find(kKey), std::string::npos) << line;
        EXPECT_EQ(line.find("qk_wrong"), std::string::npos) << line;
    }
    EXPECT_TRUE(log.contains("POST /v1/fix 200 req_"));
}

TEST_F(ServiceTest, AccessLogLinesStayOnOneLine) {
    start();
    auto c = client();
    c.set_url_encode(false);
    EXPECT_EQ(toAnswer(c.Get("/v1/x%0aforged%20line")).status, 404);
    running->stop();
    EXPECT_TRUE(log.contains("GET /v1/x?forged line 404 req_")) << ::testing::PrintToString(log.messages());
}

TEST_F(ServiceTest, TextsAreLoggedWhenAsked) {
    config.logText = true;
    start();
    fix("secret words here.");
    running->stop();
    EXPECT_TRUE(log.contains("text: secret words here."));
    EXPECT_TRUE(log.contains("corrected: Secret words here."));
    for (const auto& line : log.messages()) EXPECT_EQ(line.find(kKey), std::string::npos) << line;
}

TEST_F(ServiceTest, DeeplyNestedJsonIsRefusedWithoutHarm) {
    start();
    std::string nested = std::string(95'000, '[') + std::string(95'000, ']');
    Answer answer = toAnswer(client().Post("/v1/fix", {{"Authorization", kBearer}}, nested, "application/json"));
    EXPECT_EQ(answer.status, 400);
    expectEnvelope(answer, "invalid_request");
    EXPECT_EQ(fix("still here").status, 200);
}

TEST_F(ServiceTest, ServesRequestsConcurrently) {
    auto& slow = scripted;
    std::atomic<int> inside{0}, most{0};
    slow.behaviour = [&](std::string_view t) {
        int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {}
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        --inside;
        return std::string(t);
    };
    config.threads = 3;
    start(&slow);
    std::vector<std::thread> clients;
    std::atomic<int> ok{0};
    for (int i = 0; i < 6; ++i)
        clients.emplace_back([&] { ok += fix("a").status == 200; });
    for (auto& t : clients) t.join();
    EXPECT_EQ(ok, 6);
    EXPECT_GE(most, 2);
    EXPECT_LE(most, 3);
}

TEST_F(ServiceTest, StopEndsServingPromptly) {
    auto& service = start();
    EXPECT_EQ(fix("a").status, 200);
    auto begin = std::chrono::steady_clock::now();
    service.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(4));
    EXPECT_EQ(fix("a").status, -1);
}

TEST_F(ServiceTest, StopBeforeRunIsNotLost) {
    keys = std::make_unique<KeyStore>(config.keysFile, log);
    quota = std::make_unique<QuotaTracker>(config.quota, clock.source());
    Service service(config, *keys, *quota, rules, log);
    service.bind();
    service.stop();
    std::thread runner([&] { service.run(); });
    runner.join();  // returns instead of serving forever
}

TEST_F(ServiceTest, BindingATakenPortFails) {
    auto& first = start();
    ServiceConfig second = config;
    second.port = first.port();
    Service other(second, *keys, *quota, rules, log);
    EXPECT_THROW(other.bind(), std::runtime_error);
}

// TLS with a certificate made for this test; the client verifies it.
class TlsServiceTest : public ServiceTest {
protected:
    TlsServiceTest() {
        writeSelfSignedCertificate(dir / "cert.pem", dir / "key.pem");
        config.tls = TlsFiles{dir / "cert.pem", dir / "key.pem"};
    }
    std::unique_ptr<httplib::SSLClient> tlsClient() {
        auto c = std::make_unique<httplib::SSLClient>("127.0.0.1", running->port());
        c->set_ca_cert_path((dir / "cert.pem").string());
        c->enable_server_certificate_verification(true);
        return c;
    }
};

TEST_F(TlsServiceTest, ServesTheContractOverHttps) {
    auto& service = start();
    EXPECT_EQ(service.baseURL().rfind("https://127.0.0.1:", 0), 0u);
    auto c = tlsClient();
    Answer fixed = toAnswer(c->Post("/v1/fix", {{"Authorization", kBearer}}, fixBody("hello world."), "application/json"));
    EXPECT_EQ(fixed.status, 200);
    EXPECT_EQ(fixed.json()["corrected"], "Hello world.");
    Answer refused = toAnswer(c->Get("/v1/validate", {{"Authorization", "Bearer qk_nope"}}));
    EXPECT_EQ(refused.status, 403);
    expectEnvelope(refused, "invalid_key");
}

TEST_F(TlsServiceTest, PlainHttpToTheTlsPortGetsNoAnswer) {
    start();
    EXPECT_EQ(fix("hello").status, -1);
}

TEST_F(TlsServiceTest, ABrokenCertificateIsRefusedAtStart) {
    writeFile(dir / "cert.pem", "not a certificate");
    keys = std::make_unique<KeyStore>(config.keysFile, log);
    quota = std::make_unique<QuotaTracker>(config.quota, clock.source());
    EXPECT_THROW(Service(config, *keys, *quota, rules, log), std::runtime_error);
}

}  // namespace
