#include <gtest/gtest.h>

#include <fstream>

#include "testsupport/CoordinatorHarness.h"

using namespace quillant;
using namespace quillant::app;
using namespace quillant::testing;
using namespace std::chrono_literals;

namespace {

std::size_t countRequests(CoordinatorHarness& h, std::string_view path) {
    std::size_t n = 0;
    for (auto& r : h.http->requests())
        if (r.request.url.ends_with(path)) ++n;
    return n;
}

std::string authorization(const backend::HttpRequest& r) {
    for (auto& [k, v] : r.headers)
        if (k == "Authorization") return v;
    return "";
}

}  // namespace

TEST(StartUp, WithoutAStoredKey) {
    CoordinatorHarness h;
    h.start(std::nullopt);
    h.ex.advance(0ms);
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::absent);
    EXPECT_EQ(h.c().lastStatus.get(), "Enter API key to start");
    EXPECT_EQ(countRequests(h, "/v1/validate"), 0u);
    EXPECT_EQ(h.logs.messages().front(), "quillant started; hotkey ⌥⇧G armed; status=absent");
    EXPECT_EQ(h.hotKeyService.active.size(), 1u);
    EXPECT_EQ(h.accessibility.calls, std::vector<bool>{true});
}

TEST(StartUp, WithAStoredKey) {
    CoordinatorHarness h;
    h.validateReply = FakeHttpSession::hanging();
    h.start("ql_stored");
    h.ex.advance(0ms);
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::checking);
    EXPECT_EQ(h.c().lastStatus.get(), "Checking key…");
    EXPECT_EQ(countRequests(h, "/v1/validate"), 1u);
    EXPECT_EQ(h.logs.messages().front(), "quillant started; hotkey ⌥⇧G armed; status=checking");
    // The update check goes out after the validation.
    ASSERT_EQ(h.http->requests().size(), 2u);
    EXPECT_TRUE(h.http->requests()[1].request.url.ends_with("/v1/version"));
}

struct ValidationRow {
    const char* name;
    FakeHttpSession::Reply reply;
    BackendStatus status;
    std::string text;
    LogRecord line;
};

class Validation : public ::testing::TestWithParam<ValidationRow> {};

TEST_P(Validation, AnswerBecomesTheKeyState) {
    CoordinatorHarness h;
    h.validateReply = GetParam().reply;
    h.start();
    h.ex.advance(0ms);
    EXPECT_EQ(h.c().backendStatus.get(), GetParam().status);
    EXPECT_EQ(h.c().lastStatus.get(), GetParam().text);
    EXPECT_EQ(h.logs.records().back(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    KeyLifecycle, Validation,
    ::testing::Values(
        ValidationRow{"valid", FakeHttpSession::answer(200, R"({"valid":true})"), BackendStatus::connected, "Ready",
                      {LogLevel::info, "com.vostel.quillant", "coordinator", "token validated"}},
        ValidationRow{"valid_false", FakeHttpSession::answer(200, R"({"valid":false})"), BackendStatus::invalid,
                      "API key invalid — re-enter token",
                      {LogLevel::error, "com.vostel.quillant", "coordinator", "backend reported token invalid"}},
        ValidationRow{"forbidden", FakeHttpSession::answer(403, "<html>"), BackendStatus::invalid,
                      "API key invalid — re-enter token",
                      {LogLevel::error, "com.vostel.quillant", "coordinator", "backend reported token invalid"}},
        ValidationRow{"server_error", FakeHttpSession::answer(500, ""), BackendStatus::offline,
                      "Backend unreachable — key not verified",
                      {LogLevel::error, "com.vostel.quillant", "coordinator",
                       "token validation failed: network error"}},
        ValidationRow{"no_connection",
                      FakeHttpSession::failure(backend::TransportError::Kind::cannotConnect, "refused"),
                      BackendStatus::offline, "Backend unreachable — key not verified",
                      {LogLevel::error, "com.vostel.quillant", "coordinator",
                       "token validation failed: network error"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeyLifecycle, SaveTrimsStoresAndSendsTheKey) {
    CoordinatorHarness h;
    h.start(std::nullopt);
    h.ex.advance(0ms);
    h.logs.clear();
    EXPECT_TRUE(h.c().saveBackendToken("  ql_abc\n"));
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::checking);
    EXPECT_EQ(h.c().lastStatus.get(), "Checking key…");
    h.ex.advance(0ms);
    std::ifstream file(h.home.path() / ".config/quillant/token", std::ios::binary);
    std::string stored((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(stored, "ql_abc");
    EXPECT_EQ(authorization(h.http->requests().back().request), "Bearer ql_abc");
    EXPECT_EQ(h.logs.messages(), (std::vector<std::string>{"API key saved; validating with backend", "token validated"}));
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::connected);
}

TEST(KeyLifecycle, BlankKeyIsRefusedSilently) {
    CoordinatorHarness h;
    h.start(std::nullopt);
    h.ex.advance(0ms);
    h.logs.clear();
    EXPECT_FALSE(h.c().saveBackendToken(" \n\t\u00a0"));
    EXPECT_EQ(h.c().lastStatus.get(), "Enter API key to start");
    EXPECT_TRUE(h.logs.messages().empty());
}

TEST(KeyLifecycle, FailedSaveKeepsThePreviousKey) {
    CoordinatorHarness h;
    h.start("ql_old");
    h.ex.advance(0ms);
    // A directory where the token file should be makes every save fail.
    std::filesystem::remove(h.home.path() / ".config/quillant/token");
    std::filesystem::create_directories(h.home.path() / ".config/quillant/token");
    EXPECT_FALSE(h.c().saveBackendToken("ql_new"));
    EXPECT_EQ(h.c().lastStatus.get(), "Failed to save key");
    EXPECT_EQ(h.logs.records().back().level, LogLevel::error);
    EXPECT_EQ(h.c().transformer()->token, "ql_old");
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::connected);
}

TEST(KeyLifecycle, OnlyTheNewestKeysAnswerCounts) {
    CoordinatorHarness h;
    h.start(std::nullopt);
    h.ex.advance(0ms);
    h.http->setResponder([](const backend::HttpRequest& r) {
        // The first key's answer arrives late and says "invalid".
        if (authorization(r) == "Bearer ql_first") return FakeHttpSession::answer(200, R"({"valid":false})", 5s);
        return FakeHttpSession::answer(200, R"({"valid":true})", 1s);
    });
    h.c().saveBackendToken("ql_first");
    h.ex.advance(500ms);
    h.c().saveBackendToken("ql_second");
    h.ex.advance(10s);
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::connected);
    EXPECT_EQ(h.c().lastStatus.get(), "Ready");
}

TEST(KeyLifecycle, ClearWhileValidatingStaysAbsent) {
    CoordinatorHarness h;
    h.start(std::nullopt);
    h.ex.advance(0ms);
    h.validateReply = FakeHttpSession::answer(200, R"({"valid":true})", 2s);
    h.c().saveBackendToken("ql_key");
    h.ex.advance(500ms);
    h.logs.clear();
    h.c().clearBackendToken();
    h.ex.advance(10s);
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::absent);
    EXPECT_EQ(h.c().lastStatus.get(), "Enter API key to start");
    EXPECT_EQ(h.logs.messages(), std::vector<std::string>{"API key cleared"});
    EXPECT_FALSE(h.tokens.load());
    EXPECT_FALSE(h.c().transformer());
}

TEST(KeyLifecycle, AnswerForTheSameKeyAfterARefusedFixStillApplies) {
    // The validation answer is applied whatever the state, as long as the key matches.
    CoordinatorHarness h;
    h.validateReply = FakeHttpSession::answer(200, R"({"valid":true})", 3s);
    h.start();
    h.appCopies("x");
    h.fixReplies.push_back(FakeHttpSession::answer(401, ""));
    h.ex.advance(0ms);
    h.pressAndSettle();
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::invalid);
    h.ex.advance(5s);
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::connected);
}

TEST(Hotkey, ResumeAndApplyReArmAndPersist) {
    CoordinatorHarness h;
    h.start(std::nullopt);
    h.ex.advance(0ms);
    h.c().hotkey()->unregister();
    EXPECT_EQ(h.hotKeyService.active.size(), 0u);
    h.c().resumeHotkey();
    h.c().resumeHotkey();
    EXPECT_EQ(h.hotKeyService.active.size(), 1u);
    EXPECT_EQ(h.logs.messages().back(), "hotkey re-armed: ⌥⇧G");

    hotkey::KeyCombo combo(40, 6912);  // ⌃⌥⇧⌘K
    h.c().applyNewHotkey(combo);
    EXPECT_EQ(h.logs.messages().back(), "hotkey updated to ⌃⌥⇧⌘K");
    EXPECT_EQ(h.hotKeyService.active.size(), 1u);
    // A restart arms the new combination.
    h.coordinator.reset();
    hotkey::Preferences reloaded(h.defaults);
    EXPECT_EQ(reloaded.hotkeyCombo.get(), combo);
}

TEST(Hotkey, APressStartsTheFixFlow) {
    CoordinatorHarness h;
    h.start();
    h.ex.advance(0ms);
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})"));
    EXPECT_EQ(h.hotKeyService.press(5, 2560), std::optional<std::int32_t>(0));
    h.ex.advance(2s);
    EXPECT_EQ(h.c().lastStatus.get(), "Replaced (3 → 3 chars)");
}

struct VersionRow {
    const char* name;
    std::string running;
    FakeHttpSession::Reply reply;
    bool offered;
    std::string version;
};

class VersionCheck : public ::testing::TestWithParam<VersionRow> {};

TEST_P(VersionCheck, AnnouncesOnlyANewerTrustedRelease) {
    CoordinatorHarness h;
    h.runningVersion = GetParam().running;
    h.versionReply = GetParam().reply;
    h.start(std::nullopt);
    h.ex.advance(0ms);
    EXPECT_EQ(h.c().updateAvailable.get(), GetParam().offered);
    if (GetParam().offered) {
        EXPECT_EQ(h.c().updateVersion.get(), GetParam().version);
        EXPECT_TRUE(h.c().updateDownloadURL.get().has_value());
        const std::string current = GetParam().running.empty() ? "0.0.0" : GetParam().running;
        EXPECT_EQ(h.logs.messages().back(), "update available: " + GetParam().version + " (current: " + current + ")");
    } else {
        EXPECT_EQ(h.c().updateVersion.get(), "");
        EXPECT_EQ(h.logs.messages().size(), 1u);  // only the start-up line
    }
}

INSTANTIATE_TEST_SUITE_P(
    AppCoordinator, VersionCheck,
    ::testing::Values(
        VersionRow{"newer", "1.2.9",
                   FakeHttpSession::answer(200, R"({"version":"1.3.0","download_url":"https://dl.example/q.zip"})"),
                   true, "1.3.0"},
        VersionRow{"equal_with_trailing_zero", "1.2.0",
                   FakeHttpSession::answer(200, R"({"version":"1.2","download_url":"https://dl.example/q.zip"})"),
                   false, ""},
        VersionRow{"status_is_not_examined", "1.9.9",
                   FakeHttpSession::answer(404, R"({"version":"1.10.0","download_url":"https://dl.example/q.zip"})"),
                   true, "1.10.0"},
        VersionRow{"unknown_running_version", "",
                   FakeHttpSession::answer(200, R"({"version":"0.0.1","download_url":"https://dl.example/q.zip"})"),
                   true, "0.0.1"},
        VersionRow{"plain_http_elsewhere_is_refused", "1.0.0",
                   FakeHttpSession::answer(200, R"({"version":"9.0.0","download_url":"http://dl.example/q.zip"})"),
                   false, ""},
        // Whoever holds a loopback port first would serve the program.
        VersionRow{"plain_http_on_loopback_is_refused", "1.0.0",
                   FakeHttpSession::answer(200, R"({"version":"9.0.0","download_url":"http://127.0.0.1:8787/q.zip"})"),
                   false, ""},
        VersionRow{"the_private_socket_is_fine", "1.0.0",
                   FakeHttpSession::answer(
                       200, R"({"version":"9.0.0","download_url":"http+unix://%2Frun%2Fuser%2F1%2Fquillant%2Fs.sock/q.zip"})"),
                   true, "9.0.0"},
        VersionRow{"unreachable", "1.0.0",
                   FakeHttpSession::failure(backend::TransportError::Kind::cannotConnect, "refused"), false, ""}),
    [](const auto& info) { return std::string(info.param.name); });
