#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "clipboard/ChromiumPickle.h"
#include "testsupport/CoordinatorHarness.h"
#include "testsupport/Profiles.h"

using namespace quillant;
using namespace quillant::app;
using namespace quillant::testing;
using namespace std::chrono_literals;
using Glyph = GlyphRecorder::Change;
using S = MenuBarState;

namespace {

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

struct Row {
    const char* name;
    std::function<void(CoordinatorHarness&)> setup;  // before the press
    std::string status;
    std::optional<LogRecord> lastLine;  // the run's last log line (none: only "hotkey fired")
    std::vector<Glyph> glyph;
    bool clipboardTouched;
    int pastes;
    std::optional<BackendStatus> backendAfter;
};

void withKey(CoordinatorHarness& h) { h.start(); }

LogRecord info(std::string m) { return {LogLevel::info, "com.vostel.quillant", "coordinator", std::move(m)}; }
LogRecord error(std::string m) { return {LogLevel::error, "com.vostel.quillant", "coordinator", std::move(m)}; }

const std::string kFamily = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";

std::vector<Row> rows() {
    return {
        {"no_api_key", [](auto& h) { h.start(std::nullopt); }, "Enter API key to start",
         error("hotkey fired but no API key is set"), {{S::warn, 0ms}, {S::idle, 1500ms}}, false, 0,
         BackendStatus::absent},
        {"key_known_invalid",
         [](auto& h) {
             h.validateReply = FakeHttpSession::answer(200, R"({"valid":false})");
             h.start();
             h.ex.advance(0ms);
         },
         "API key invalid — re-enter token", error("hotkey fired with known-invalid token; skipping fix"),
         {{S::warn, 0ms}, {S::idle, 1500ms}}, false, 0, BackendStatus::invalid},
        {"no_accessibility",
         [](auto& h) {
             h.start();
             h.accessibility.trusted = false;
         },
         "Need Accessibility permission", error("Accessibility not granted"), {{S::loading, 0ms}, {S::idle, 0ms}},
         false, 0, std::nullopt},
        {"copy_timed_out", withKey, "Couldn't read selection", error("copy failed: copyTimedOut"),
         {{S::loading, 0ms}, {S::warn, 400ms}, {S::idle, 1900ms}}, true, 0, std::nullopt},
        {"copy_without_text",
         [](auto& h) {
             h.start();
             h.poster.onPost = [&h](const clipboard::KeyEvent& e) {
                 if (e.keyCode != clipboard::kKeyCodeC || !e.keyDown) return;
                 clipboard::PasteboardItemData image;
                 image.set("public.png", clipboard::Bytes("PNG"));
                 h.board.writeLater(h.ex, 30ms, {image});
             };
         },
         "Couldn't read selection", error("copy failed: noStringOnPasteboard"),
         {{S::loading, 0ms}, {S::warn, 30ms}, {S::idle, 1530ms}}, true, 0, std::nullopt},
        {"empty_selection",
         [](auto& h) {
             h.start();
             h.appCopies("");
         },
         "Empty selection", std::nullopt, {{S::loading, 0ms}, {S::idle, 20ms}}, true, 0, std::nullopt},
        {"over_the_cap",
         [](auto& h) {
             h.start();
             h.appCopies(repeat("a", 1500) + kFamily);
         },
         "Selection too long (1501 / 1500)", error("selection rejected: 1501 chars exceeds cap 1500"),
         {{S::loading, 0ms}, {S::warn, 20ms}, {S::idle, 1520ms}}, true, 0, std::nullopt},
        {"exactly_the_cap_is_sent",
         [](auto& h) {
             h.start();
             h.appCopies(repeat(kFamily, 1500));
             h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"short"})"));
         },
         "Replaced (1500 → 5 chars)", info("paste committed; clipboard restored"),
         {{S::loading, 0ms}, {S::idle, 270ms}}, true, 1, std::nullopt},
        {"service_error",
         [](auto& h) {
             h.start();
             h.appCopies("teh text");
             h.fixReplies.push_back(
                 FakeHttpSession::answer(429, R"({"error":"quota","message":"m","reset_at":"tomorrow 9:00"})"));
         },
         "Quota reached, resets tomorrow 9:00", error("transform failed: Quota reached, resets tomorrow 9:00"),
         {{S::loading, 0ms}, {S::warn, 20ms}, {S::idle, 1520ms}}, true, 0, BackendStatus::connected},
        {"key_rejected_by_the_service",
         [](auto& h) {
             h.start();
             h.appCopies("teh text");
             h.fixReplies.push_back(FakeHttpSession::answer(401, ""));
         },
         "API key invalid — re-enter token", error("transform failed: API key invalid — re-enter token"),
         {{S::loading, 0ms}, {S::warn, 20ms}, {S::idle, 1520ms}}, true, 0, BackendStatus::invalid},
        {"no_change_under_canonical_equivalence",
         [](auto& h) {
             h.start();
             h.appCopies("caf\u00e9");
             h.fixReplies.push_back(FakeHttpSession::answer(200, "{\"corrected\":\"cafe\\u0301\"}"));
         },
         "No changes", info("no change after transform; aborting paste"),
         {{S::loading, 0ms}, {S::ok, 20ms}, {S::idle, 920ms}}, true, 0, std::nullopt},
        {"replaced",
         [](auto& h) {
             h.start();
             h.appCopies("i has a apple " + kFamily);
             h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"I have an apple \ud83d\ude00"})"));
         },
         "Replaced (15 → 17 chars)", info("paste committed; clipboard restored"),
         {{S::loading, 0ms}, {S::idle, 270ms}}, true, 1, std::nullopt},
        {"model_failed_corrected_offline",
         [](auto& h) {
             h.start();
             h.appCopies("teh text");
             h.fixReplies.push_back(FakeHttpSession::answer(
                 200, R"({"corrected":"the text","note":"Corrected offline \u2014 the model at http://127.0.0.1:11434/v1 did not answer"})"));
         },
         "Corrected offline — the model at http://127.0.0.1:11434/v1 did not answer",
         info("paste committed; clipboard restored"), {{S::loading, 0ms}, {S::idle, 270ms}}, true, 1, std::nullopt},
        {"white_space_is_content",
         [](auto& h) {
             h.start();
             h.appCopies("   ");
             h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":" "})"));
         },
         "Replaced (3 → 1 chars)", info("paste committed; clipboard restored"),
         {{S::loading, 0ms}, {S::idle, 270ms}}, true, 1, std::nullopt},
    };
}

}  // namespace

// Every outcome on each platform's clipboard names.
class FixFlowOutcome : public ::testing::TestWithParam<std::tuple<Row, NamedProfile>> {};

TEST_P(FixFlowOutcome, StatusLogGlyphAndClipboard) {
    const auto& [row, named] = GetParam();
    CoordinatorHarness h(named.profile);
    row.setup(h);
    h.ex.advance(0ms);
    h.board.setItems(h.userClipboard());
    const int clearsBefore = h.board.clears;
    const std::size_t logsBefore = h.logs.records().size();
    GlyphRecorder glyph(h.c(), h.ex);
    const Duration t0 = h.ex.elapsed();

    h.pressAndSettle();
    h.ex.advance(5s);  // let any flash run out

    EXPECT_EQ(h.c().lastStatus.get(), row.status);
    auto records = h.logs.records();
    std::vector<LogRecord> runLines(records.begin() + long(logsBefore), records.end());
    if (row.lastLine) {
        ASSERT_FALSE(runLines.empty());
        EXPECT_EQ(runLines.back(), *row.lastLine);
    } else {
        ASSERT_EQ(runLines.size(), 1u);
        EXPECT_EQ(runLines[0].message, "hotkey fired");
    }
    std::vector<Glyph> expected;
    for (auto g : row.glyph) expected.push_back({g.state, g.at + t0});
    EXPECT_EQ(glyph.changes, expected);
    // Whatever happened, the user's clipboard is what it was before the press.
    EXPECT_EQ(h.board.items(), h.userClipboard());
    if (!row.clipboardTouched) {
        EXPECT_EQ(h.board.clears, clearsBefore);
    }
    EXPECT_EQ(int(h.pastes().size()), row.pastes);
    EXPECT_FALSE(h.c().isRunning.get());
    if (row.backendAfter) {
        EXPECT_EQ(h.c().backendStatus.get(), *row.backendAfter);
    }
}

INSTANTIATE_TEST_SUITE_P(AppCoordinator, FixFlowOutcome,
                         ::testing::Combine(::testing::ValuesIn(rows()), ::testing::ValuesIn(everyProfile())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

namespace {

// What is on the clipboard when the paste chord goes out: the correction under
// the plain-text names, and the markers that keep clipboard managers away.
std::vector<std::string> atPasteFor(const NamedProfile& named) {
    if (named.name == "macOS")
        return {"public.utf8-plain-text=the cat", "org.nspasteboard.ConcealedType=", "org.nspasteboard.TransientType="};
    return {"text/plain;charset=utf-8=the cat", "UTF8_STRING=the cat", "text/plain=the cat",
            "x-kde-passwordManagerHint=secret"};
}

class FixFlowOnEachProfile : public ::testing::TestWithParam<NamedProfile> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(AppCoordinator, FixFlowOnEachProfile, ::testing::ValuesIn(everyProfile()),
                         [](const auto& info) { return info.param.name; });

TEST_P(FixFlowOnEachProfile, SuccessfulRunLogsInOrderAndPastesTheCorrection) {
    CoordinatorHarness h(GetParam().profile);
    h.start();
    h.ex.advance(0ms);
    h.board.setItems(h.userClipboard());
    h.appCopies("teh cat");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the cat"})"));
    std::vector<std::string> atPaste;
    auto copyHandler = h.poster.onPost;
    h.poster.onPost = [&](const clipboard::KeyEvent& e) {
        copyHandler(e);
        if (e.keyCode == clipboard::kKeyCodeV && e.keyDown) {
            for (auto& [t, b] : h.board.items().at(0).entries) atPaste.push_back(t + "=" + b.str());
        }
    };
    h.logs.clear();
    h.pressAndSettle();
    EXPECT_EQ(h.logs.messages(), (std::vector<std::string>{"hotkey fired", "captured selection (7 chars, 0 Slack mentions)",
                                                           "paste committed; clipboard restored"}));
    EXPECT_EQ(atPaste, atPasteFor(GetParam()));
    ASSERT_EQ(h.http->requests().size(), 3u);  // validation and release query at start-up, then the fix
    EXPECT_TRUE(h.http->requests()[2].request.url.ends_with("/v1/fix"));
    EXPECT_EQ(h.http->requests()[2].request.body, std::optional<std::string>(R"({"text":"teh cat"})"));
    EXPECT_EQ(h.c().lastStatus.get(), "Replaced (7 → 7 chars)");
}

namespace {

std::string slackContainer(const std::string& json, const clipboard::PasteboardProfile& profile) {
    return clipboard::ChromiumPickle::encode({{"slack/texty", json}, {profile.chromiumPlainTextKey, "x"}});
}

struct SlackRow {
    const char* name;
    std::string json;
    std::string corrected;
    std::optional<std::string> spliceLine;
    bool pastedWithContainer;
};

class FixFlowSlack : public ::testing::TestWithParam<std::tuple<SlackRow, NamedProfile>> {};

}  // namespace

TEST_P(FixFlowSlack, SplicesMentionsOrFallsBackToPlainText) {
    const auto& [row, named] = GetParam();
    CoordinatorHarness h(named.profile);
    h.start();
    h.ex.advance(0ms);
    h.board.setItems(h.userClipboard());
    h.appCopies("hi @Ann, how r u", 20ms, {{h.profile.chromiumCustom, slackContainer(row.json, h.profile)}});
    h.fixReplies.push_back(FakeHttpSession::answer(200, "{\"corrected\":\"" + row.corrected + "\"}"));
    std::optional<clipboard::PasteboardItemData> pasted;
    auto copyHandler = h.poster.onPost;
    h.poster.onPost = [&](const clipboard::KeyEvent& e) {
        copyHandler(e);
        if (e.keyCode == clipboard::kKeyCodeV && e.keyDown) pasted = h.board.items().at(0);
    };
    h.logs.clear();
    h.pressAndSettle();
    auto lines = h.logs.messages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "captured selection (16 chars, " +
                            std::string(row.spliceLine || row.name == std::string("splice_fails") ? "1" : "0") +
                            " Slack mentions)");
    if (row.spliceLine) {
        EXPECT_EQ(lines[2], *row.spliceLine);
    } else {
        EXPECT_EQ(lines[2], "paste committed; clipboard restored");
    }
    ASSERT_TRUE(pasted);
    const auto* container = pasted->find(h.profile.chromiumCustom);
    EXPECT_EQ(container != nullptr, row.pastedWithContainer);
    if (container) {
        auto map = clipboard::ChromiumPickle::decode(container->view());
        ASSERT_TRUE(map);
        auto delta = clipboard::SlackDelta::decode(map->at("slack/texty"));
        ASSERT_TRUE(delta);
        ASSERT_EQ(delta->ops.size(), 3u);
        EXPECT_EQ(delta->ops[1].attributes->slackmention->id, "U42");
        EXPECT_EQ(map->at(h.profile.chromiumPlainTextKey), row.corrected);
    }
    EXPECT_EQ(h.board.items(), h.userClipboard());
}

INSTANTIATE_TEST_SUITE_P(
    AppCoordinator, FixFlowSlack,
    ::testing::Combine(::testing::Values(
        SlackRow{"mention_spliced",
                 R"({"ops":[{"insert":"hi "},{"insert":"@Ann","attributes":{"slackmention":{"id":"U42","label":"@Ann"}}},{"insert":", how r u\n"}]})",
                 "Hi @Ann, how are you?", "spliced 1 mentions into corrected text", true},
        SlackRow{"splice_fails",
                 R"({"ops":[{"insert":"hi "},{"insert":"@Ann","attributes":{"slackmention":{"id":"U42","label":"@Ann"}}}]})",
                 "Hi Ann, how are you?", "mention splice failed; falling back to plain-text paste", false},
        SlackRow{"payload_without_mentions", R"({"ops":[{"insert":"hi @Ann, how r u"}]})", "Hi @Ann, how are you?",
                 std::nullopt, false}), ::testing::ValuesIn(everyProfile())),
    [](const auto& info) { return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name; });

TEST(FixFlow, PressDuringAPendingCallIsDroppedAndChangesNothing) {
    CoordinatorHarness h;
    h.start();
    h.ex.advance(0ms);
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})", 3s));
    h.press();
    h.ex.advance(1s);
    ASSERT_TRUE(h.c().isRunning.get());
    const auto status = h.c().lastStatus.get();
    const auto glyph = h.c().menuBarState.get();
    const auto clears = h.board.clears;
    h.logs.clear();
    h.press();
    h.ex.advance(0ms);
    EXPECT_EQ(h.logs.messages(), std::vector<std::string>{"fix flow already in progress; ignoring re-trigger"});
    EXPECT_EQ(h.c().lastStatus.get(), status);
    EXPECT_EQ(h.c().menuBarState.get(), glyph);
    EXPECT_EQ(h.board.clears, clears);
    h.ex.advance(5s);
    EXPECT_EQ(h.c().lastStatus.get(), "Replaced (3 → 3 chars)");
    EXPECT_EQ(h.pastes().size(), 1u);
}

// A corrector that starts on demand is told at the press, not once the copy
// is done: its start-up runs while the user is still letting go of the keys.
TEST(FixFlow, TheServiceHearsOfTheFixBeforeTheSelectionIsCopied) {
    CoordinatorHarness h;
    std::vector<std::size_t> keyEventsThen;
    h.fixStarting = [&] { keyEventsThen.push_back(h.poster.events.size()); };
    h.start();
    h.ex.advance(0ms);
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})"));
    h.press();
    h.ex.advance(5s);
    EXPECT_EQ(keyEventsThen, std::vector<std::size_t>{0});
    EXPECT_EQ(h.pastes().size(), 1u);
}

TEST(FixFlow, AnOldFlashCannotEndANewRunsLoadingGlyph) {
    CoordinatorHarness h;
    h.start(std::nullopt);
    h.ex.advance(0ms);
    GlyphRecorder glyph(h.c(), h.ex);
    const Duration t0 = h.ex.elapsed();
    h.press();  // no key: warn for 1.5 s
    h.ex.advance(500ms);
    ASSERT_TRUE(h.c().saveBackendToken("ql_new"));
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})", 2s));
    h.press();
    h.ex.advance(10s);
    EXPECT_EQ(glyph.changes, (std::vector<Glyph>{{S::warn, t0}, {S::loading, t0 + 500ms}, {S::idle, t0 + 2770ms}}));
}

TEST(FixFlow, ANewerFlashReplacesTheOlderOne) {
    CoordinatorHarness h;
    h.start(std::nullopt);
    h.ex.advance(0ms);
    GlyphRecorder glyph(h.c(), h.ex);
    const Duration t0 = h.ex.elapsed();
    h.press();  // warn, 1.5 s
    h.ex.advance(500ms);
    // A second refusal 0.5 s later restarts the time from there.
    h.press();
    h.ex.advance(5s);
    EXPECT_EQ(glyph.changes, (std::vector<Glyph>{{S::warn, t0}, {S::idle, t0 + 2000ms}}));
}

TEST(FixFlow, ARunKeepsItsOwnClientWhenTheKeyChangesMeanwhile) {
    CoordinatorHarness h;
    h.start("ql_old");
    h.ex.advance(0ms);
    h.appCopies("teh");
    // The first attempt fails in passing; the retry 2 s later must carry the old key.
    h.fixReplies.push_back(FakeHttpSession::answer(502, "<html>bad gateway</html>"));
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})"));
    h.press();
    h.ex.advance(500ms);
    ASSERT_TRUE(h.c().saveBackendToken("ql_new"));
    h.ex.advance(5s);
    std::vector<std::string> fixAuth;
    for (auto& r : h.http->requests())
        if (r.request.url.ends_with("/v1/fix"))
            for (auto& [k, v] : r.request.headers)
                if (k == "Authorization") fixAuth.push_back(v);
    EXPECT_EQ(fixAuth, (std::vector<std::string>{"Bearer ql_old", "Bearer ql_old"}));
    EXPECT_EQ(h.c().lastStatus.get(), "Replaced (3 → 3 chars)");
}

TEST(FixFlow, ClearingTheKeyDuringARunDoesNotStopIt) {
    CoordinatorHarness h;
    h.start();
    h.ex.advance(0ms);
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})", 1s));
    h.press();
    h.ex.advance(100ms);
    h.c().clearBackendToken();
    h.ex.advance(5s);
    EXPECT_EQ(h.pastes().size(), 1u);
    EXPECT_EQ(h.c().backendStatus.get(), BackendStatus::absent);
    EXPECT_EQ(h.c().lastStatus.get(), "Replaced (3 → 3 chars)");
}

TEST(FixFlow, TheKeyNeverAppearsInAnyLogLine) {
    const std::string key = "ql_SECRET_4f9a";
    CoordinatorHarness h;
    h.validateReply = FakeHttpSession::answer(403, "");
    h.start(key);
    h.ex.advance(0ms);
    h.c().saveBackendToken("  " + key + "\n");
    h.ex.advance(0ms);
    h.c().clearBackendToken();
    h.c().saveBackendToken(key);
    h.appCopies("x");
    h.fixReplies.push_back(FakeHttpSession::answer(401, ""));
    h.ex.advance(0ms);
    h.pressAndSettle();
    for (auto& line : h.logs.messages()) EXPECT_EQ(line.find("SECRET"), std::string::npos) << line;
}

TEST(FixFlow, OnX11TheClipboardIsRestoredOnlyOnceTheApplicationReadTheCorrection) {
    // A slow application fetches the pasted text 600 ms after the keystroke;
    // restoring at 250 ms would paste the user's old clipboard instead.
    CoordinatorHarness h(clipboard::PasteboardProfile::linuxX11());
    h.start();
    h.ex.advance(0ms);
    h.board.setItems(h.userClipboard());
    h.board.reads = 0;
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})"));
    std::optional<std::string> pastedText;
    auto copyHandler = h.poster.onPost;
    h.poster.onPost = [&](const clipboard::KeyEvent& e) {
        copyHandler(e);
        if (e.keyCode == clipboard::kKeyCodeV && e.keyDown) {
            h.ex.schedule(600ms, [&] {
                pastedText = h.board.stringForType(h.profile.plainText);
                h.board.reads = *h.board.reads + 1;
            });
        }
    };
    GlyphRecorder glyph(h.c(), h.ex);
    const Duration t0 = h.ex.elapsed();
    h.pressAndSettle();
    EXPECT_EQ(pastedText, std::optional<std::string>("the"));
    EXPECT_EQ(h.board.items(), h.userClipboard());
    // Restored once the application has been quiet for a while after its read.
    EXPECT_EQ(glyph.changes, (std::vector<Glyph>{{S::loading, t0},
                                                 {S::idle, t0 + 20ms + 600ms + clipboard::PasteboardBroker::kPasteQuiet}}));
}

// The service refuses the run's key only after the user acted on the key.
struct StaleVerdictRow {
    const char* name;
    std::function<void(AppCoordinator&)> meanwhile;
    BackendStatus expected;
};

class FixFlowStaleVerdict : public ::testing::TestWithParam<StaleVerdictRow> {};

TEST_P(FixFlowStaleVerdict, ARefusedKeyIsMarkedInvalidOnlyWhileItIsStillTheKey) {
    CoordinatorHarness h;
    h.start("ql_a");
    h.ex.advance(0ms);
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(401, "", 2s));
    h.press();
    h.ex.advance(500ms);
    GetParam().meanwhile(h.c());
    h.ex.advance(5s);
    EXPECT_EQ(h.c().lastStatus.get(), "API key invalid — re-enter token");
    EXPECT_EQ(h.c().backendStatus.get(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AppCoordinator, FixFlowStaleVerdict,
    ::testing::Values(StaleVerdictRow{"KeyUnchanged", [](AppCoordinator&) {}, BackendStatus::invalid},
                      StaleVerdictRow{"OtherKeySaved", [](AppCoordinator& c) { c.saveBackendToken("ql_b"); },
                                      BackendStatus::connected},
                      StaleVerdictRow{"KeyCleared", [](AppCoordinator& c) { c.clearBackendToken(); },
                                      BackendStatus::absent},
                      StaleVerdictRow{"SameKeySavedAgain", [](AppCoordinator& c) { c.saveBackendToken(" ql_a\n"); },
                                      BackendStatus::invalid}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FixFlow, WhileTheServiceWorksTheUsersClipboardIsAlreadyBack) {
    // A slow answer leaves the user free to paste elsewhere meanwhile: what
    // they get is their own clipboard, not the selection we copied.
    CoordinatorHarness h(clipboard::PasteboardProfile::linuxX11());
    h.start();
    h.ex.advance(0ms);
    h.board.setItems(h.userClipboard());
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})", 3s));
    h.press();
    h.ex.advance(1s);
    ASSERT_TRUE(h.c().isRunning.get());
    EXPECT_EQ(h.board.items(), h.userClipboard());
    h.ex.runUntil([&] { return !h.c().isRunning.get(); });
    EXPECT_EQ(h.pastes().size(), 1u);
}
