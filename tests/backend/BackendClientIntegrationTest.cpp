#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "testsupport/Drive.h"
#include "testsupport/TestHttpsServer.h"
#include "backend/BackendClient.h"
#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/RunLoop.h"
#include "runtime/VirtualExecutor.h"

using namespace quillant;
using namespace quillant::backend;
using namespace std::chrono_literals;
using quillant::linux_platform::CurlHttpSession;
using quillant::testing::driveUntil;
using quillant::testing::ScriptedReply;
using quillant::testing::TestHttpsServer;
using Action = ScriptedReply::Action;

namespace {

// The real client over the real session against a real HTTPS server; only the
// retry pause runs on virtual time.
class ClientAgainstServer : public ::testing::Test {
protected:
    TestHttpsServer server;
    VirtualExecutor executor;
    std::shared_ptr<CurlHttpSession> session = std::make_shared<CurlHttpSession>(executor, options());
    BackendClient client{server.baseURL(), "sk-test-42", 10.0, session};

    CurlHttpSession::Options options() {
        CurlHttpSession::Options o;
        o.extraCAFile = server.caFile();
        return o;
    }

    struct Outcome {
        std::optional<std::string> corrected;
        std::optional<BackendError> error;
    };

    Outcome transform(std::string text = "i has a typo") {
        Outcome out;
        bool done = false;
        spawn(executor, [&, text]() -> Task<void> {
            try {
                out.corrected = co_await client.transform(text);
            } catch (const BackendError& e) {
                out.error = e;
            }
            done = true;
        });
        EXPECT_TRUE(driveUntil(executor, [&] { return done; }));
        return out;
    }

    ValidationOutcome validate() {
        std::optional<ValidationOutcome> out;
        spawn(executor, [&]() -> Task<void> { out = co_await client.validateToken(); });
        EXPECT_TRUE(driveUntil(executor, [&] { return out.has_value(); }));
        return out.value_or(ValidationOutcome::unreachable);
    }

    std::optional<VersionInfo> latest(std::string baseURL) {
        std::optional<VersionInfo> out;
        bool done = false;
        spawn(executor, [&]() -> Task<void> {
            out = co_await BackendClient::fetchLatestVersion(baseURL, session);
            done = true;
        });
        EXPECT_TRUE(driveUntil(executor, [&] { return done; }));
        return out;
    }
};

struct StatusRow {
    const char* name;
    std::vector<ScriptedReply> replies;
    std::optional<std::string> corrected;
    std::string userMessage;
    std::size_t requests;
};

ScriptedReply json(int status, std::string body) { return ScriptedReply::json(status, std::move(body)); }

class StatusMapping : public ClientAgainstServer, public ::testing::WithParamInterface<StatusRow> {};

TEST_P(StatusMapping, OverTheWire) {
    const StatusRow& row = GetParam();
    for (const auto& reply : row.replies) server.enqueue(reply);
    auto out = transform();
    if (row.corrected) {
        EXPECT_EQ(out.corrected, row.corrected);
    } else {
        ASSERT_TRUE(out.error);
        EXPECT_EQ(out.error->userMessage(), row.userMessage);
    }
    auto got = server.received();
    ASSERT_EQ(got.size(), row.requests);
    for (const auto& r : got) {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.target, "/v1/fix");
        EXPECT_EQ(r.header("Authorization"), "Bearer sk-test-42");
        EXPECT_LT(r.indexOf("Content-Type"), r.indexOf("Authorization"));
        EXPECT_EQ(nlohmann::json::parse(r.body), (nlohmann::json{{"text", "i has a typo"}}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusMapping,
    ::testing::Values(
        StatusRow{"ok", {json(200, R"({"corrected":"I have a typo.","extra":[1]})")}, "I have a typo.", "", 1},
        StatusRow{"created", {json(201, R"({"corrected":"x"})")}, {}, "Backend error 201: HTTP 201", 1},
        StatusRow{"too_long", {json(400, R"({"error":"text_too_long","message":"m"})")}, {}, "Selection too long", 1},
        StatusRow{"bad_request", {json(400, R"({"error":"nope","message":"No text"})")}, {}, "Bad request: No text", 1},
        StatusRow{"bad_request_empty", {json(400, "")}, {}, "Bad request: HTTP 400", 1},
        StatusRow{"unauthorized", {json(401, "")}, {}, "API key invalid \u2014 re-enter token", 1},
        StatusRow{"forbidden_invalid_key", {json(403, R"({"error":"invalid_key","message":"m"})")}, {},
                  "API key invalid \u2014 re-enter token", 1},
        StatusRow{"forbidden_other", {json(403, R"({"error":"x","message":"Denied","request_id":null})")}, {},
                  "Backend error 403: Denied", 1},
        StatusRow{"quota", {json(429, R"({"error":"q","message":"m","reset_at":"tomorrow"})")}, {},
                  "Quota reached, resets tomorrow", 1},
        StatusRow{"unavailable_not_retried", {json(503, "")}, {}, "Backend error 503: HTTP 503", 1},
        // A redirect is the answer: the target's "correction" is never pasted.
        StatusRow{"redirect_302_not_followed",
                  {ScriptedReply{302, {{"Location", "/v1/other"}, {"Content-Type", "application/json"}},
                                 R"({"error":"moved","message":"Moved","request_id":"r-9"})", Action::respond},
                   json(200, R"({"corrected":"from elsewhere"})")},
                  {}, "Backend error 302: Moved", 1},
        StatusRow{"redirect_307_without_body",
                  {ScriptedReply{307, {{"Location", "/v1/other"}}, "", Action::respond},
                   json(200, R"({"corrected":"from elsewhere"})")},
                  {}, "Backend error 307: HTTP 307", 1},
        StatusRow{"html_502_then_ok",
                  {ScriptedReply{502, {{"Content-Type", "text/html"}}, "<html>bad gateway</html>", Action::respond},
                   json(200, R"({"corrected":"fixed"})")},
                  "fixed", "", 2},
        StatusRow{"500_then_401", {json(500, ""), json(401, "")}, {}, "API key invalid \u2014 re-enter token", 2},
        StatusRow{"closes_mid_body_twice",
                  {ScriptedReply::with(Action::closeMidBody), ScriptedReply::with(Action::closeMidBody)},
                  {}, "Network error: transfer closed with 10 bytes remaining to read", 2},
        StatusRow{"oversized_200", {json(200, std::string(kMaxResponseBodyBytes + 1, ' '))}, {},
                  "Bad response from backend", 1},
        StatusRow{"oversized_418", {json(418, "{" + std::string(kMaxResponseBodyBytes, ' ') + "}")}, {},
                  "Backend error 418: HTTP 418", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ClientAgainstServer, TimeOutsAreTransportErrorsAndRetried) {
    client.timeoutSeconds = 0.3;
    server.enqueue(ScriptedReply::with(Action::stall));
    server.enqueue(ScriptedReply::with(Action::stall));
    auto out = transform();
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->kind(), BackendError::Kind::transport);
    EXPECT_EQ(out.error->transportError().kind, TransportError::Kind::timedOut);
    EXPECT_TRUE(out.error->userMessage().starts_with("Network error: Operation timed out")) << out.error->userMessage();
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(ClientAgainstServer, RefusedConnectionIsATransportError) {
    client.baseURL = "https://127.0.0.1:" + std::to_string(quillant::testing::unusedLoopbackPort());
    auto out = transform();
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->transportError().kind, TransportError::Kind::cannotConnect);
    EXPECT_EQ(validate(), ValidationOutcome::unreachable);
}

TEST_F(ClientAgainstServer, ValidationOverTheWire) {
    server.enqueue(json(200, R"({"valid":true})"));
    server.enqueue(json(200, R"({"valid":false})"));
    server.enqueue(json(403, "<html>no</html>"));
    server.enqueue(json(500, R"({"valid":true})"));
    server.enqueue(ScriptedReply::with(Action::closeMidBody));
    std::vector<ValidationOutcome> outcomes;
    for (int i = 0; i < 5; ++i) outcomes.push_back(validate());
    EXPECT_EQ(outcomes, (std::vector<ValidationOutcome>{ValidationOutcome::valid, ValidationOutcome::invalid,
                                                         ValidationOutcome::invalid, ValidationOutcome::unreachable,
                                                         ValidationOutcome::unreachable}));
    auto got = server.received();
    ASSERT_EQ(got.size(), 5u);  // never retried
    EXPECT_EQ(got[0].method, "GET");
    EXPECT_EQ(got[0].target, "/v1/validate");
    EXPECT_EQ(got[0].header("Authorization"), "Bearer sk-test-42");
    EXPECT_EQ(got[0].indexOf("Content-Type"), -1);
    EXPECT_TRUE(got[0].body.empty());
}

TEST_F(ClientAgainstServer, RedirectedFixCarriesTheEnvelopeAndValidationIsNotFollowed) {
    server.enqueue(ScriptedReply{307, {{"Location", "/v1/fix2"}, {"Content-Type", "application/json"}},
                                 R"({"error":"moved","message":"Moved","request_id":"r-9"})", Action::respond});
    auto out = transform();
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->kind(), BackendError::Kind::serverError);
    EXPECT_EQ(out.error->status(), 307);
    EXPECT_EQ(out.error->code(), "moved");
    EXPECT_EQ(out.error->requestId(), "r-9");
    server.enqueue(ScriptedReply{302, {{"Location", "/v1/validate2"}}, "", Action::respond});
    server.enqueue(json(200, R"({"valid":true})"));
    EXPECT_EQ(validate(), ValidationOutcome::unreachable);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(ClientAgainstServer, VersionCheckIgnoresStatusAndSendsNoCredentials) {
    server.enqueue(json(404, R"({"version":"1.3.0","download_url":"https://example.com/q.zip"})"));
    server.enqueue(json(200, "<html>maintenance</html>"));
    auto found = latest(server.baseURL() + "/svc/");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->version, "1.3.0");
    EXPECT_EQ(found->downloadURL, "https://example.com/q.zip");
    EXPECT_FALSE(latest(server.baseURL()));

    auto got = server.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].method, "GET");
    EXPECT_EQ(got[0].target, "/svc/v1/version");
    EXPECT_EQ(got[0].indexOf("Authorization"), -1);
    EXPECT_EQ(got[0].indexOf("Content-Type"), -1);
    EXPECT_EQ(got[1].target, "/v1/version");
}

// The one test that waits out the real two-second pause, on a real run loop.
TEST(BackendClientRealTime, RetriesAfterTwoRealSeconds) {
    TestHttpsServer server;
    linux_platform::RunLoop loop;
    CurlHttpSession::Options options;
    options.extraCAFile = server.caFile();
    auto session = std::make_shared<CurlHttpSession>(loop, options);
    BackendClient client{server.baseURL(), "k", 10.0, session};
    server.enqueue(ScriptedReply::json(504, ""));
    server.enqueue(ScriptedReply::json(200, R"({"corrected":"second time lucky"})"));

    std::optional<std::string> result;
    auto started = ContinuousClock::now();
    spawn(loop, [&]() -> Task<void> { result = co_await client.transform("x"); });
    ASSERT_TRUE(loop.runUntil([&] { return result.has_value(); }, 30s));
    auto took = ContinuousClock::now() - started;
    EXPECT_EQ(result, "second time lucky");
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 15s);
}

}  // namespace
