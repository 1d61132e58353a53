#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "backend/BackendClient.h"
#include "runtime/VirtualExecutor.h"
#include "testsupport/FakeHttpSession.h"

using namespace quillant;
using namespace quillant::backend;
using namespace std::chrono_literals;
using quillant::testing::FakeHttpSession;
using TKind = TransportError::Kind;

namespace {

struct Outcome {
    std::optional<std::string> corrected;
    std::optional<BackendError> error;
    bool done = false;
};

class BackendClientTest : public ::testing::Test {
protected:
    VirtualExecutor executor;
    std::shared_ptr<FakeHttpSession> session = std::make_shared<FakeHttpSession>(executor);
    BackendClient client{"https://api.example.com", "tok-123", 10.0, session};

    TaskHandle startTransform(Outcome& out, std::string text = "helo") {
        return spawn(executor, [this, &out, text]() -> Task<void> {
            try {
                out.corrected = co_await client.transform(text);
            } catch (const BackendError& e) {
                out.error = e;
            }
            out.done = true;
        });
    }

    Duration sinceFirstRequest(std::size_t i) const { return session->requests()[i].at - session->requests()[0].at; }
};

TEST_F(BackendClientTest, FixRequestHasTheContractsShape) {
    client.token = "  spaced token\t";  // sent exactly as held
    session->respond(200, R"({"corrected":"hello"})");
    Outcome out;
    startTransform(out, "helo \"wrld\"");
    executor.runUntil([&] { return out.done; });

    ASSERT_EQ(out.corrected, "hello");
    ASSERT_EQ(session->requests().size(), 1u);
    const HttpRequest& r = session->requests()[0].request;
    EXPECT_EQ(r.url, "https://api.example.com/v1/fix");
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.timeout, 10'000ms);
    EXPECT_EQ(r.headers, (std::vector<HeaderField>{{"Content-Type", "application/json"},
                                                    {"Authorization", "Bearer   spaced token\t"}}));
    ASSERT_TRUE(r.body);
    EXPECT_EQ(nlohmann::json::parse(*r.body), (nlohmann::json{{"text", "helo \"wrld\""}}));
}

TEST_F(BackendClientTest, ValidateAndVersionRequestsHaveTheContractsShape) {
    client.baseURL = "https://api.example.com/base/";
    client.timeoutSeconds = 2.5;
    session->respond(200, R"({"valid":true})");
    session->respond(404, R"({"version":"1.3.0","download_url":"https://example.com/q.zip"})");
    std::optional<ValidationOutcome> validation;
    std::optional<VersionInfo> version;
    bool done = false;
    spawn(executor, [&]() -> Task<void> {
        validation = co_await client.validateToken();
        version = co_await BackendClient::fetchLatestVersion("https://api.example.com/base", session);
        done = true;
    });
    executor.runUntil([&] { return done; });

    EXPECT_EQ(validation, ValidationOutcome::valid);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->version, "1.3.0");
    EXPECT_EQ(version->downloadURL, "https://example.com/q.zip");

    ASSERT_EQ(session->requests().size(), 2u);
    const HttpRequest& v = session->requests()[0].request;
    EXPECT_EQ(v.url, "https://api.example.com/base/v1/validate");
    EXPECT_EQ(v.method, "GET");
    EXPECT_EQ(v.timeout, 2'500ms);
    EXPECT_EQ(v.headers, (std::vector<HeaderField>{{"Authorization", "Bearer tok-123"}}));
    EXPECT_FALSE(v.body);
    const HttpRequest& u = session->requests()[1].request;
    EXPECT_EQ(u.url, "https://api.example.com/base/v1/version");
    EXPECT_EQ(u.method, "GET");
    EXPECT_EQ(u.timeout, 10'000ms);
    EXPECT_TRUE(u.headers.empty());
    EXPECT_FALSE(u.body);
}

struct RetryRow {
    const char* name;
    std::vector<FakeHttpSession::Reply> replies;
    std::optional<std::string> corrected;
    std::string userMessage;  // when it fails
    std::size_t requests;
};

FakeHttpSession::Reply json(int status, std::string body) { return FakeHttpSession::answer(status, std::move(body)); }

class RetryRule : public ::testing::TestWithParam<RetryRow> {};

TEST_P(RetryRule, AtMostOneMoreTryTwoSecondsLater) {
    const RetryRow& row = GetParam();
    VirtualExecutor executor;
    auto session = std::make_shared<FakeHttpSession>(executor);
    for (const auto& reply : row.replies) session->enqueue(reply);
    BackendClient client{"https://api.example.com", "k", 10.0, session};
    Outcome out;
    spawn(executor, [&]() -> Task<void> {
        try {
            out.corrected = co_await client.transform("x");
        } catch (const BackendError& e) {
            out.error = e;
        }
        out.done = true;
    });
    executor.runUntil([&] { return out.done; });

    ASSERT_TRUE(out.done);
    ASSERT_EQ(session->requests().size(), row.requests);
    if (row.requests == 2) {
        EXPECT_EQ(session->requests()[1].at - session->requests()[0].at, 2s);
        EXPECT_EQ(executor.elapsed(), 2s);
    } else {
        EXPECT_EQ(executor.elapsed(), 0s);
    }
    if (row.corrected) {
        EXPECT_EQ(out.corrected, row.corrected);
    } else {
        ASSERT_TRUE(out.error);
        EXPECT_EQ(out.error->userMessage(), row.userMessage);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RetryRule,
    ::testing::Values(
        RetryRow{"html_502_then_ok", {json(502, "<html>"), json(200, R"({"corrected":"ok"})")}, "ok", "", 2},
        RetryRow{"500_then_401", {json(500, ""), json(401, "")}, {}, "API key invalid \u2014 re-enter token", 2},
        RetryRow{"504_then_500_reports_the_second", {json(504, ""), json(500, R"({"error":"e","message":"late"})")},
                 {}, "Backend error 500: late", 2},
        RetryRow{"transport_then_ok",
                 {FakeHttpSession::failure(TKind::cannotConnect, "Couldn't connect to server"),
                  json(200, R"({"corrected":"ok"})")},
                 "ok", "", 2},
        RetryRow{"transport_twice",
                 {FakeHttpSession::failure(TKind::timedOut, "first"), FakeHttpSession::failure(TKind::timedOut, "second")},
                 {}, "Network error: second", 2},
        RetryRow{"503_not_retried", {json(503, ""), json(200, R"({"corrected":"ok"})")}, {}, "Backend error 503: HTTP 503", 1},
        RetryRow{"501_not_retried", {json(501, "")}, {}, "Backend error 501: HTTP 501", 1},
        RetryRow{"400_not_retried", {json(400, R"({"error":"text_too_long","message":"m"})")}, {}, "Selection too long", 1},
        RetryRow{"429_not_retried", {json(429, "")}, {}, "Quota reached", 1},
        RetryRow{"undecodable_200_not_retried", {json(200, "{}")}, {}, "Bad response from backend", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackendClientTest, CancelledCallerSkipsThePauseAndSendsNothingMore) {
    session->respond(502, "");
    session->respond(200, R"({"corrected":"too late"})");
    Outcome out;
    auto handle = startTransform(out);
    executor.advance(500ms);  // first answer in, pausing
    ASSERT_FALSE(out.done);
    ASSERT_EQ(session->requests().size(), 1u);
    handle.cancel();
    executor.runUntilIdle();

    ASSERT_TRUE(out.done);
    EXPECT_EQ(executor.elapsed(), 500ms);
    EXPECT_EQ(session->requests().size(), 1u);
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->kind(), BackendError::Kind::transport);
    EXPECT_EQ(out.error->transportError().kind, TKind::cancelled);
}

TEST_F(BackendClientTest, CancellingTheCallerCancelsTheTransfer) {
    session->enqueue(FakeHttpSession::hanging());
    Outcome out;
    auto handle = startTransform(out);
    executor.runUntilIdle();
    handle.cancel();
    executor.runUntilIdle();

    ASSERT_TRUE(out.done);
    EXPECT_EQ(session->cancelledCount(), 1u);
    EXPECT_EQ(session->requests().size(), 1u);
    EXPECT_EQ(executor.elapsed(), 0s);
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->userMessage(), "Network error: Request cancelled");
}

TEST_F(BackendClientTest, TimedOutRequestsEndAfterTwoTimeoutsAndThePause) {
    session->setResponder([](const HttpRequest& r) {
        return FakeHttpSession::failure(TKind::timedOut, "Operation timed out", r.timeout);
    });
    Outcome out;
    startTransform(out);
    executor.runUntil([&] { return out.done; });
    EXPECT_EQ(executor.elapsed(), 22s);
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->userMessage(), "Network error: Operation timed out");
}

TEST_F(BackendClientTest, CallWorksOnItsOwnCopyOfTheClient) {
    session->respond(200, R"({"corrected":"fine"})", 1s);
    std::optional<std::string> result;
    spawn(executor, [&]() -> Task<void> {
        // The client is gone before the call even starts running.
        auto call = std::make_unique<BackendClient>(BackendClient{"https://api.example.com", "k", 10.0, session});
        Task<std::string> pending = call->transform("x");
        call.reset();
        result = co_await std::move(pending);
    });
    executor.runUntil([&] { return result.has_value(); });
    EXPECT_EQ(result, "fine");
}

TEST_F(BackendClientTest, ValidationAndVersionNeverThrow) {
    session->enqueue(FakeHttpSession::failure(TKind::cannotConnect, "refused"));
    session->respond(403, "<html>");
    session->enqueue(FakeHttpSession::failure(TKind::timedOut, "timed out"));
    session->respond(200, "garbage");
    std::vector<ValidationOutcome> outcomes;
    std::vector<std::optional<VersionInfo>> versions;
    bool done = false;
    spawn(executor, [&]() -> Task<void> {
        outcomes.push_back(co_await client.validateToken());
        outcomes.push_back(co_await client.validateToken());
        versions.push_back(co_await BackendClient::fetchLatestVersion("https://api.example.com", session));
        versions.push_back(co_await BackendClient::fetchLatestVersion("https://api.example.com", session));
        BackendClient withoutSession{"https://x", "k", 10.0, nullptr};
        outcomes.push_back(co_await withoutSession.validateToken());
        done = true;
    });
    executor.runUntil([&] { return done; });
    EXPECT_EQ(outcomes, (std::vector<ValidationOutcome>{ValidationOutcome::unreachable, ValidationOutcome::invalid,
                                                         ValidationOutcome::unreachable}));
    EXPECT_EQ(versions, (std::vector<std::optional<VersionInfo>>{std::nullopt, std::nullopt}));
    EXPECT_EQ(session->requests().size(), 4u);  // no retries here
}

TEST_F(BackendClientTest, OversizedAnswerDecodesAsNothing) {
    HttpResponse big;
    big.status = 200;
    big.bodyExceededLimit = true;
    session->enqueue({big, 0s, false});
    Outcome out;
    startTransform(out);
    executor.runUntil([&] { return out.done; });
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->kind(), BackendError::Kind::decoding);
}

}  // namespace
