#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "backend/BackendProtocol.h"

using namespace quillant::backend;
using Kind = BackendError::Kind;

namespace {

struct FixRow {
    const char* name;
    int status;
    std::string body;
    std::optional<std::string> corrected;  // success when set
    Kind kind = Kind::decoding;
    std::string userMessage;
    std::string code;                       // serverError only
    std::optional<std::string> requestId;  // serverError only
};

std::string oversized(std::string json) {
    json.append(kMaxResponseBodyBytes + 1 - json.size(), ' ');  // valid JSON, one byte too long
    return json;
}

class FixAnswer : public ::testing::TestWithParam<FixRow> {};

TEST_P(FixAnswer, MapsToResultOrError) {
    const FixRow& row = GetParam();
    auto outcome = interpretFixResponse(row.status, row.body);
    if (row.corrected) {
        ASSERT_TRUE(std::holds_alternative<std::string>(outcome));
        EXPECT_EQ(std::get<std::string>(outcome), *row.corrected);
        return;
    }
    ASSERT_TRUE(std::holds_alternative<BackendError>(outcome));
    const auto& error = std::get<BackendError>(outcome);
    EXPECT_EQ(error.kind(), row.kind);
    EXPECT_EQ(error.userMessage(), row.userMessage);
    EXPECT_EQ(error.description(), row.userMessage);
    EXPECT_STREQ(error.what(), row.userMessage.c_str());
    if (row.kind == Kind::serverError) {
        EXPECT_EQ(error.status(), row.status);
        EXPECT_EQ(error.code(), row.code);
        EXPECT_EQ(error.requestId(), row.requestId);
    }
}

const std::string kDeepNesting = std::string(200'000, '[') + std::string(200'000, ']');

INSTANTIATE_TEST_SUITE_P(
    Table, FixAnswer,
    ::testing::Values(
        FixRow{"ok_with_unknown_keys", 200, R"({"corrected":"Hello, world.","model":"x","n":1})", "Hello, world."},
        FixRow{"ok_unicode", 200, R"({"corrected":"caf\u00e9 \ud83d\ude00"})", "caf\u00e9 \U0001F600"},
        FixRow{"ok_missing_corrected", 200, R"({"text":"x"})", {}, Kind::decoding, "Bad response from backend"},
        FixRow{"ok_number_corrected", 200, R"({"corrected":5})", {}, Kind::decoding, "Bad response from backend"},
        FixRow{"ok_null_corrected", 200, R"({"corrected":null})", {}, Kind::decoding, "Bad response from backend"},
        FixRow{"ok_empty_body", 200, "", {}, Kind::decoding, "Bad response from backend"},
        FixRow{"ok_array", 200, R"(["corrected"])", {}, Kind::decoding, "Bad response from backend"},
        FixRow{"ok_bad_utf8", 200, "{\"corrected\":\"\xff\"}", {}, Kind::decoding, "Bad response from backend"},
        FixRow{"ok_deep_nesting", 200, kDeepNesting, {}, Kind::decoding, "Bad response from backend"},
        FixRow{"ok_oversized", 200, oversized(R"({"corrected":"x"})"), {}, Kind::decoding,
               "Bad response from backend"},
        FixRow{"too_long_case_sensitive", 400, R"({"error":"TEXT_TOO_LONG","message":"Too long"})", {},
               Kind::badRequest, "Bad request: Too long"},
        FixRow{"bad_request_empty_message", 400, R"({"error":"x","message":""})", {}, Kind::badRequest,
               "Bad request: "},
        FixRow{"unauthorized_any_body", 401, R"({"error":"nope","message":"m"})", {}, Kind::invalidKey,
               "API key invalid \u2014 re-enter token"},
        FixRow{"forbidden_other", 403, R"({"error":"banned","message":"Account suspended","request_id":"r-1"})", {},
               Kind::serverError, "Backend error 403: Account suspended", "banned", "r-1"},
        FixRow{"forbidden_no_body", 403, "", {}, Kind::serverError, "Backend error 403: HTTP 403", "unknown", {}},
        FixRow{"quota_with_reset", 429, R"({"error":"quota","message":"m","reset_at":"2025-01-01T00:00:00Z"})", {},
               Kind::quotaExceeded, "Quota reached, resets 2025-01-01T00:00:00Z"},
        FixRow{"quota_reset_kept_verbatim", 429, R"({"error":"q","message":"m","reset_at":"in 5 min"})", {},
               Kind::quotaExceeded, "Quota reached, resets in 5 min"},
        FixRow{"quota_empty_reset", 429, R"({"error":"q","message":"m","reset_at":""})", {}, Kind::quotaExceeded,
               "Quota reached, resets "},
        FixRow{"quota_null_reset", 429, R"({"error":"q","message":"m","reset_at":null})", {}, Kind::quotaExceeded,
               "Quota reached"},
        FixRow{"quota_without_message_uses_fallback", 429, R"({"error":"q","reset_at":"soon"})", {},
               Kind::quotaExceeded, "Quota reached"},
        FixRow{"null_request_id", 500, R"({"error":"boom","message":"Oops","request_id":null})", {},
               Kind::serverError, "Backend error 500: Oops", "boom", {}},
        FixRow{"request_id_wrong_type_uses_fallback", 500, R"({"error":"boom","message":"Oops","request_id":7})",
               {}, Kind::serverError, "Backend error 500: HTTP 500", "unknown", {}},
        FixRow{"empty_message", 503, R"({"error":"down","message":""})", {}, Kind::serverError,
               "Backend error 503: ", "down", {}},
        FixRow{"oversized_error_uses_fallback", 418, oversized(R"({"error":"x","message":"y"})"), {},
               Kind::serverError, "Backend error 418: HTTP 418", "unknown", {}},
        FixRow{"redirect_status", 302, "", {}, Kind::serverError, "Backend error 302: HTTP 302", "unknown", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BackendError, TransportCarriesTheTransportsOwnWords) {
    auto error = BackendError::transport({TransportError::Kind::timedOut, "Operation timed out after 10001 ms"});
    EXPECT_EQ(error.kind(), Kind::transport);
    EXPECT_EQ(error.userMessage(), "Network error: Operation timed out after 10001 ms");
    EXPECT_EQ(error.transportError().kind, TransportError::Kind::timedOut);
    EXPECT_EQ(BackendError::serverError(-1, "x", "m", {}).userMessage(), "Backend error -1: m");
}

TEST(BackendError, RetryRule) {
    EXPECT_TRUE(isRetryable(BackendError::transport({})));
    for (int status : {500, 502, 504}) EXPECT_TRUE(isRetryable(BackendError::serverError(status, "", "", {})));
    for (int status : {201, 403, 501, 503, 505})
        EXPECT_FALSE(isRetryable(BackendError::serverError(status, "", "", {}))) << status;
    for (auto e : {BackendError::invalidKey(), BackendError::textTooLong(), BackendError::decoding(),
                   BackendError::badRequest("x"), BackendError::quotaExceeded({})})
        EXPECT_FALSE(isRetryable(e)) << e.userMessage();
}

struct NoteRow {
    const char* name;
    std::string body;
    std::optional<std::string> note;  // none: the answer is undecodable
};

class FixNote : public ::testing::TestWithParam<NoteRow> {};

TEST_P(FixNote, IsReadAsOneSafeLine) {
    auto outcome = interpretFixResult(200, GetParam().body);
    if (!GetParam().note) {
        EXPECT_TRUE(std::holds_alternative<BackendError>(outcome));
        return;
    }
    ASSERT_TRUE(std::holds_alternative<FixResult>(outcome));
    EXPECT_EQ(std::get<FixResult>(outcome), (FixResult{"x", *GetParam().note}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FixNote,
    ::testing::Values(NoteRow{"none", R"({"corrected":"x"})", ""}, NoteRow{"null", R"({"corrected":"x","note":null})", ""},
                      NoteRow{"note", R"({"corrected":"x","note":"Corrected offline \u2014 why"})", "Corrected offline — why"},
                      NoteRow{"control_characters", R"({"corrected":"x","note":"a\nb\u001b[2Jc"})", "a b [2Jc"},
                      NoteRow{"too_long", R"({"corrected":"x","note":")" + std::string(299, 'a') + "\u00e9" + R"("})",
                              std::string(299, 'a') + "…"},
                      NoteRow{"not_a_string", R"({"corrected":"x","note":5})", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FixRequest, EncodesTheTextExactly) {
    std::string text = "Line \"one\"\nline two \\ caf\u00e9 \U0001F600";
    auto json = nlohmann::json::parse(encodeFixRequest(text));
    EXPECT_EQ(json.size(), 1u);
    EXPECT_EQ(json.at("text").get<std::string>(), text);
    // Invalid UTF-8 is an encoding failure of its own, not a service error.
    EXPECT_THROW(encodeFixRequest("bad \xff byte"), nlohmann::json::type_error);
}

TEST(ValidateAnswer, Table) {
    struct Row {
        int status;
        std::string body;
        ValidationOutcome expected;
    };
    const Row rows[] = {
        {200, R"({"valid":true})", ValidationOutcome::valid},
        {200, R"({"valid":false,"reason":"revoked"})", ValidationOutcome::invalid},
        {200, R"({"valid":"true"})", ValidationOutcome::unreachable},
        {200, R"({"valid":1})", ValidationOutcome::unreachable},
        {200, "", ValidationOutcome::unreachable},
        {200, oversized(R"({"valid":true})"), ValidationOutcome::unreachable},
        {201, R"({"valid":true})", ValidationOutcome::unreachable},
        {401, R"({"valid":true})", ValidationOutcome::invalid},
        {403, "<html>forbidden</html>", ValidationOutcome::invalid},
        {404, R"({"valid":true})", ValidationOutcome::unreachable},
        {500, R"({"valid":true})", ValidationOutcome::unreachable},
    };
    for (const auto& row : rows)
        EXPECT_EQ(interpretValidateResponse(row.status, row.body), row.expected) << row.status << " " << row.body;
}

TEST(VersionAnswer, Table) {
    struct Row {
        std::string body;
        std::optional<std::string> version;
        std::string url;
    };
    const Row rows[] = {
        {R"({"version":"1.3.0","download_url":"https://example.com/q-1.3.0.zip","notes":"x"})", "1.3.0",
         "https://example.com/q-1.3.0.zip"},
        {R"({"version":"2.0.0-beta","download_url":"HTTPS://dl.example.com:8443/a?b=c#d"})", "2.0.0-beta",
         "HTTPS://dl.example.com:8443/a?b=c#d"},
        {R"({"version":"1","download_url":"http+unix://%2Frun%2Fq.sock/q.zip"})", "1", "http+unix://%2Frun%2Fq.sock/q.zip"},
        // Plain http on loopback is served by whichever local user took the port first.
        {R"({"version":"1","download_url":"http://127.0.0.1:8787/q.zip"})", {}, ""},
        {R"({"version":"1","download_url":"http://localhost/q.zip"})", {}, ""},
        {R"({"version":"1","download_url":"http://[::1]:9/q.zip"})", {}, ""},
        {R"({"version":"1.3.0"})", {}, ""},
        {R"({"download_url":"https://example.com/q.zip"})", {}, ""},
        {R"({"version":1.3,"download_url":"https://example.com/q.zip"})", {}, ""},
        {R"({"version":"1","download_url":5})", {}, ""},
        {R"({"version":"1","download_url":""})", {}, ""},
        {R"({"version":"1","download_url":"q.zip"})", {}, ""},
        {R"({"version":"1","download_url":"https://"})", {}, ""},
        {R"({"version":"1","download_url":"https://exa mple.com/q.zip"})", {}, ""},
        {R"({"version":"1","download_url":"file:///etc/passwd"})", {}, ""},
        {R"({"version":"1","download_url":"ftp://example.com/q.zip"})", {}, ""},
        // A plain-http update from a remote host could be swapped on the way.
        {R"({"version":"1","download_url":"http://example.com/q.zip"})", {}, ""},
        {R"({"version":"1","download_url":"http://127.0.0.1.evil.com/q.zip"})", {}, ""},
        {"<html>not json</html>", {}, ""},
    };
    for (const auto& row : rows) {
        auto info = interpretVersionResponse(row.body);
        ASSERT_EQ(info.has_value(), row.version.has_value()) << row.body;
        if (info) {
            EXPECT_EQ(info->version, *row.version);
            EXPECT_EQ(info->downloadURL, row.url);
        }
    }
}

TEST(JoinURL, AppendsOnePathComponent) {
    struct Row {
        const char* base;
        const char* expected;
    };
    const Row rows[] = {
        {"https://api.example.com", "https://api.example.com/v1/fix"},
        {"https://api.example.com/", "https://api.example.com/v1/fix"},
        {"https://api.example.com/quillant", "https://api.example.com/quillant/v1/fix"},
        {"https://api.example.com/quillant/", "https://api.example.com/quillant/v1/fix"},
        {"https://api.example.com/q?tenant=a", "https://api.example.com/q/v1/fix?tenant=a"},
        {"http://127.0.0.1:8787", "http://127.0.0.1:8787/v1/fix"},
    };
    for (const auto& row : rows) EXPECT_EQ(joinURL(row.base, "/v1/fix"), row.expected) << row.base;
}

TEST(DownloadRedirect, Policy) {
    struct Row {
        std::string from;
        std::string to;
        bool allowed;
    };
    const std::string sock = localSocketURL("/run/user/1000/quillant/service.sock");
    const std::string otherSock = localSocketURL("/run/user/1001/quillant/service.sock");
    const Row rows[] = {
        {"https://dl.example.com/q.zip", "https://cdn.example.net/q.zip", true},
        {"https://dl.example.com/q.zip", "HTTPS://cdn.example.net:8443/q.zip?sig=1", true},
        {"https://dl.example.com/q.zip", "http://cdn.example.net/q.zip", false},
        {"https://dl.example.com/q.zip", "http://127.0.0.1/q.zip", false},
        {"https://dl.example.com/q.zip", "file:///tmp/q.zip", false},
        {"https://dl.example.com/q.zip", "ftp://dl.example.com/q.zip", false},
        {"https://dl.example.com/q.zip", "https://", false},
        {"http://127.0.0.1:8787/q.zip", "http://127.0.0.1:8787/files/q.zip", false},
        {"http://127.0.0.1:8787/q.zip", "http://127.0.0.1:9000/q.zip", false},
        {"http://127.0.0.1:8787/q.zip", "https://127.0.0.1:8443/q.zip", false},
        {"http://127.0.0.1:8787/q.zip", "http://127.0.0.2:8787/q.zip", false},
        {"http://127.0.0.1:8787/q.zip", "http://localhost:8787/q.zip", false},
        {"http://127.0.0.1:8787/q.zip", "https://dl.example.com/q.zip", false},
        {"http://127.0.0.1:8787/q.zip", "http://example.com/q.zip", false},
        {"http://localhost/q.zip", "http://LOCALHOST/other.zip", false},
        {"http://[::1]:9/q.zip", "http://[::1]:10/q.zip", false},
        {"http://example.com/q.zip", "http://example.com/q2.zip", false},  // never a plain-http origin
        {sock + "/q.zip", sock + "/files/q.zip", true},
        {sock + "/q.zip", otherSock + "/q.zip", false},
        {sock + "/q.zip", "http://127.0.0.1:8787/q.zip", false},
        {sock + "/q.zip", "https://dl.example.com/q.zip", false},
        {"https://dl.example.com/q.zip", sock + "/q.zip", false},
    };
    for (const auto& row : rows) EXPECT_EQ(isAllowedRedirect(row.from, row.to), row.allowed) << row.from << " -> " << row.to;
}

TEST(LocalSocketURL, RoundTripsAndJoins) {
    const std::string path = "/run/user/1000/quillant dir/service.sock";
    const std::string base = localSocketURL(path);
    EXPECT_EQ(base, "http+unix://%2Frun%2Fuser%2F1000%2Fquillant%20dir%2Fservice.sock");
    auto target = parseLocalSocketURL(joinURL(base, "/v1/fix"));
    ASSERT_TRUE(target);
    EXPECT_EQ(target->socketPath, path);
    EXPECT_EQ(target->pathAndQuery, "/v1/fix");
    auto bare = parseLocalSocketURL(base + "?a=b#frag");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->pathAndQuery, "/?a=b");
    EXPECT_TRUE(isAcceptableDownloadURL(joinURL(base, "/q.zip")));
    for (const char* bad : {"http+unix://", "http+unix://relative.sock/v1", "http+unix://%2Fa%2", "http+unix://%2Fa%zz",
                            "http+unix://%2Fa%00b/v1", "https://example.com"})
        EXPECT_FALSE(parseLocalSocketURL(bad)) << bad;
}

}  // namespace
