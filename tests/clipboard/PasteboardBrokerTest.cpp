#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <utility>

#include "clipboard/ChromiumPickle.h"
#include "clipboard/PasteboardBroker.h"
#include "runtime/VirtualExecutor.h"
#include "testsupport/FakeKeyEventPoster.h"
#include "testsupport/FakePasteboard.h"
#include "testsupport/Profiles.h"

using namespace quillant;
using namespace quillant::clipboard;
using namespace std::chrono_literals;
using quillant::testing::everyProfile;
using quillant::testing::FakeKeyEventPoster;
using quillant::testing::FakePasteboard;
using quillant::testing::NamedProfile;

namespace {

PasteboardItemData item(std::vector<std::pair<std::string, std::string>> entries) {
    PasteboardItemData out;
    for (auto& [t, b] : entries) out.set(t, Bytes(b));
    return out;
}

const std::string kSlackJSON =
    R"({"ops":[{"insert":"hi "},{"insert":"@Ann","attributes":{"slackmention":{"id":"U1","label":"@Ann"}}},{"insert":" there\n"}]})";

struct Fixture {
    explicit Fixture(PasteboardProfile p) : profile(std::move(p)) {}

    PasteboardProfile profile;
    VirtualExecutor ex;
    FakePasteboard board;
    FakeKeyEventPoster poster;
    PasteboardBroker broker{board, KeyEventSynth(poster), profile};

    // The frontmost application answers the copy chord after `delay` with `items`.
    void appCopiesAfter(Duration delay, std::vector<PasteboardItemData> items) {
        poster.onPost = [this, delay, items](const KeyEvent& e) {
            if (e.keyCode == kKeyCodeC && e.keyDown) board.writeLater(ex, delay, items);
        };
    }

    struct Outcome {
        std::optional<CapturedSelection> selection;
        std::optional<PasteboardError> error;
        Duration elapsed{};
    };
    Outcome copy(std::int64_t timeoutMs) {
        Outcome out;
        bool done = false;
        spawn(ex, [&]() -> Task<void> {
            try {
                out.selection = co_await broker.copySelection(timeoutMs);
            } catch (const PasteboardError& e) {
                out.error = e;
            }
            out.elapsed = ex.elapsed();
            done = true;
        });
        ex.runUntil([&] { return done; });
        EXPECT_TRUE(done);
        return out;
    }
};

std::string profileName(const NamedProfile& p) { return p.name; }

class BrokerOnEachProfile : public ::testing::TestWithParam<NamedProfile> {
protected:
    Fixture f{GetParam().profile};
    const PasteboardProfile& p = f.profile;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(PasteboardBroker, BrokerOnEachProfile, ::testing::ValuesIn(everyProfile()),
                         [](const auto& info) { return profileName(info.param); });

TEST_P(BrokerOnEachProfile, SnapshotKeepsReadableTypesAndDropsEmptyItems) {
    f.board.setItems({item({{p.plainText, "a"}, {"public.html", "<b>a</b>"}}),
                      item({{"com.example.only-unreadable", "x"}}), item({{"public.png", std::string("\0\1", 2)}})});
    f.board.makeUnreadable("com.example.only-unreadable");
    f.board.addUnreadableType(0, "com.example.promised");
    auto snap = f.broker.snapshot();
    ASSERT_EQ(snap.items.size(), 2u);
    EXPECT_EQ(snap.items[0], item({{p.plainText, "a"}, {"public.html", "<b>a</b>"}}));
    EXPECT_EQ(snap.items[1], item({{"public.png", std::string("\0\1", 2)}}));
}

TEST_P(BrokerOnEachProfile, RestoringTwiceGivesTheSameContents) {
    auto original = std::vector{item({{p.plainText, "one"}, {"public.rtf", "{\\rtf1}"}}), item({{p.plainText, "two"}})};
    f.board.setItems(original);
    auto snap = f.broker.snapshot();
    f.board.setString(p.plainText, "something else");
    f.broker.restore(snap);
    EXPECT_EQ(f.board.items(), original);
    f.board.setString(p.plainText, "again");
    f.broker.restore(snap);
    EXPECT_EQ(f.board.items(), original);
}

TEST_P(BrokerOnEachProfile, EmptySnapshotRestoreClearsAndWritesNothing) {
    auto snap = f.broker.snapshot();
    EXPECT_TRUE(snap.items.empty());
    f.board.setString(p.plainText, "x");
    int writesBefore = f.board.writes;
    f.broker.restore(snap);
    EXPECT_TRUE(f.board.items().empty());
    EXPECT_EQ(f.board.writes, writesBefore);
}

struct PollCase {
    const char* name;
    std::int64_t timeoutMs;
    int expectedPolls;
};

class CopyTimesOut : public ::testing::TestWithParam<std::tuple<PollCase, NamedProfile>> {};

TEST_P(CopyTimesOut, SendsTheChordAndPollsExactly) {
    const auto& [c, named] = GetParam();
    Fixture f(named.profile);
    auto out = f.copy(c.timeoutMs);
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->kind(), PasteboardError::Kind::copyTimedOut);
    EXPECT_STREQ(out.error->what(), "copyTimedOut");
    ASSERT_EQ(f.poster.events.size(), 2u);
    EXPECT_EQ(f.poster.events[0], (KeyEvent{8, true, 0x100000, true}));
    // One read remembers the count, then one per poll.
    EXPECT_EQ(f.board.changeCountReads - 1, c.expectedPolls);
    EXPECT_EQ(out.elapsed, std::chrono::milliseconds(10 * c.expectedPolls));
}

INSTANTIATE_TEST_SUITE_P(PasteboardBroker, CopyTimesOut,
                         ::testing::Combine(::testing::Values(PollCase{"zero", 0, 0}, PollCase{"nine", 9, 0},
                                                              PollCase{"ten", 10, 1}, PollCase{"nineteen", 19, 1},
                                                              PollCase{"four_hundred", 400, 40}),
                                            ::testing::ValuesIn(everyProfile())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + profileName(std::get<1>(info.param));
                         });

namespace {

struct WakeCase {
    const char* name;
    bool announces;                    // the platform announces a new owner (X11, Wayland) or not (macOS)
    std::optional<Duration> copyAt;    // when the application's copy lands; none: never
    std::optional<Duration> cancelAt;  // when the fix is cancelled
    std::int64_t timeoutMs;
    Duration seenAt;                   // when the copy returns or gives up
    bool copied;
};

class CopyWakes : public ::testing::TestWithParam<WakeCase> {};

}  // namespace

TEST_P(CopyWakes, AnAnnouncedCopyIsSeenAtOnceAndThePollRemainsTheFallback) {
    const WakeCase& c = GetParam();
    Fixture f(PasteboardProfile::linuxX11());
    f.board.announces = c.announces;
    if (c.copyAt) f.appCopiesAfter(*c.copyAt, {item({{f.profile.plainText, "selected"}})});
    Fixture::Outcome out;
    bool done = false;
    TaskHandle run = spawn(f.ex, [&]() -> Task<void> {
        try {
            out.selection = co_await f.broker.copySelection(c.timeoutMs);
        } catch (const PasteboardError& e) {
            out.error = e;
        }
        out.elapsed = f.ex.elapsed();
        done = true;
    });
    if (c.cancelAt) f.ex.schedule(*c.cancelAt, [&] { run.cancel(); });
    f.ex.runUntil([&] { return done; });
    ASSERT_TRUE(done);
    EXPECT_EQ(out.elapsed, c.seenAt);
    if (c.copied) {
        ASSERT_TRUE(out.selection);
        EXPECT_EQ(out.selection->text, "selected");
    } else {
        ASSERT_TRUE(out.error);
        EXPECT_EQ(out.error->kind(), PasteboardError::Kind::copyTimedOut);
    }
    // Waiting on announcements asks the count only on waking, and stops listening afterwards.
    if (c.announces) {
        EXPECT_LE(f.board.changeCountReads, 4);
    }
    EXPECT_EQ(f.board.changeObservers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    PasteboardBroker, CopyWakes,
    ::testing::Values(WakeCase{"announced_copy", true, 3ms, std::nullopt, 400, 3ms, true},
                      WakeCase{"unannounced_copy_waits_for_the_poll", false, 3ms, std::nullopt, 400, 10ms, true},
                      WakeCase{"announced_nothing_gives_up_at_the_bound", true, std::nullopt, std::nullopt, 400,
                               400ms, false},
                      WakeCase{"announced_copy_after_the_bound", true, 405ms, std::nullopt, 400, 400ms, false},
                      WakeCase{"announced_bound_under_one_step", true, 3ms, std::nullopt, 9, 0ms, false},
                      WakeCase{"announced_bound_rounds_down_to_steps", true, std::nullopt, std::nullopt, 25, 20ms,
                               false},
                      WakeCase{"announced_wait_cancelled", true, std::nullopt, 50ms, 400, 50ms, false},
                      WakeCase{"polled_wait_cancelled", false, std::nullopt, 50ms, 400, 50ms, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(BrokerOnEachProfile, CopyReturnsTheTextOfTheFirstChange) {
    f.appCopiesAfter(25ms, {item({{p.plainText, "selected text"}})});
    auto out = f.copy(400);
    ASSERT_TRUE(out.selection);
    EXPECT_EQ(out.selection->text, "selected text");
    EXPECT_FALSE(out.selection->slackDelta);
    EXPECT_EQ(out.elapsed, 30ms);
}

TEST_P(BrokerOnEachProfile, CopyOfAnEmptyStringIsNotAnError) {
    f.appCopiesAfter(5ms, {item({{p.plainText, ""}})});
    auto out = f.copy(400);
    ASSERT_TRUE(out.selection);
    EXPECT_EQ(out.selection->text, "");
}

TEST_P(BrokerOnEachProfile, CopyWithoutPlainTextFails) {
    f.appCopiesAfter(5ms, {item({{"public.png", "PNG"}})});
    auto out = f.copy(400);
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->kind(), PasteboardError::Kind::noStringOnPasteboard);
}

TEST_P(BrokerOnEachProfile, CopyWaitsForTheHotkeyToBeReleasedFirst) {
    f.poster.heldFor = 4;
    f.appCopiesAfter(5ms, {item({{p.plainText, "x"}})});
    auto out = f.copy(400);
    ASSERT_TRUE(out.selection);
    EXPECT_EQ(out.elapsed, 20ms + 10ms);
}

struct SlackCase {
    const char* name;
    std::optional<std::map<std::string, std::string>> container;  // none: no container type at all
    std::string rawContainer;                                      // used when container is none and non-empty
    bool expectDelta;
};

class CopyReadsSlack : public ::testing::TestWithParam<std::tuple<SlackCase, NamedProfile>> {};

TEST_P(CopyReadsSlack, ReadsTheSlackPayloadOrSilentlyGoesWithout) {
    const auto& [c, named] = GetParam();
    Fixture f(named.profile);
    auto copied = item({{f.profile.plainText, "hi @Ann there"}});
    if (c.container)
        copied.set(f.profile.chromiumCustom, Bytes(ChromiumPickle::encode(*c.container)));
    else if (!c.rawContainer.empty())
        copied.set(f.profile.chromiumCustom, Bytes(c.rawContainer));
    f.appCopiesAfter(10ms, {copied});
    auto out = f.copy(400);
    ASSERT_TRUE(out.selection);
    EXPECT_EQ(out.selection->text, "hi @Ann there");
    EXPECT_EQ(out.selection->slackDelta.has_value(), c.expectDelta);
    if (c.expectDelta) {
        EXPECT_EQ(out.selection->slackDelta->mentionOps().size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    PasteboardBroker, CopyReadsSlack,
    ::testing::Combine(
        ::testing::Values(
            SlackCase{"slack_payload", std::map<std::string, std::string>{{"slack/texty", kSlackJSON}}, "", true},
            SlackCase{"container_without_slack", std::map<std::string, std::string>{{"text/x-other", "1"}}, "", false},
            SlackCase{"unparsable_json", std::map<std::string, std::string>{{"slack/texty", "{not json"}}, "", false},
            SlackCase{"garbage_container", std::nullopt, "\x01\x02", false},
            SlackCase{"no_container", std::nullopt, "", false}),
        ::testing::ValuesIn(everyProfile())),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + profileName(std::get<1>(info.param));
    });

// What the broker writes for our own text on each platform, besides the text:
// the same text under the plain-text aliases, then the markers.
std::vector<std::pair<std::string, std::string>> writtenForText(const NamedProfile& named, const std::string& text) {
    if (named.name == "macOS")
        return {{"public.utf8-plain-text", text},
                {"org.nspasteboard.ConcealedType", ""},
                {"org.nspasteboard.TransientType", ""}};
    return {{"text/plain;charset=utf-8", text},
            {"UTF8_STRING", text},
            {"text/plain", text},
            {"x-kde-passwordManagerHint", "secret"}};
}

TEST_P(BrokerOnEachProfile, WriteTransientPlainTextWritesTheTextAndTheMarkersOnly) {
    f.broker.writeTransient("fixed", std::nullopt);
    ASSERT_EQ(f.board.items().size(), 1u);
    EXPECT_EQ(f.board.items()[0], item(writtenForText(GetParam(), "fixed")));
}

TEST_P(BrokerOnEachProfile, WriteTransientWithSlackAddsTheContainer) {
    auto delta = SlackDelta::decode(kSlackJSON);
    ASSERT_TRUE(delta);
    f.broker.writeTransient("hi @Ann there", delta);
    ASSERT_EQ(f.board.items().size(), 1u);
    const auto& written = f.board.items()[0];
    const auto expected = writtenForText(GetParam(), "hi @Ann there");
    ASSERT_EQ(written.entries.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(written.entries[i].first, expected[i].first);
        EXPECT_EQ(written.entries[i].second.str(), expected[i].second);
    }
    EXPECT_EQ(written.entries.back().first, p.chromiumCustom);
    auto map = ChromiumPickle::decode(written.entries.back().second.view());
    ASSERT_TRUE(map);
    EXPECT_EQ(map->size(), 2u);
    EXPECT_EQ(map->at(p.chromiumPlainTextKey), "hi @Ann there");
    EXPECT_EQ(SlackDelta::decode(map->at("slack/texty")), delta);
}

TEST(PasteboardBroker, LinuxProfileUsesItsOwnNamesAndMarkerBytes) {
    VirtualExecutor ex;
    FakePasteboard board;
    FakeKeyEventPoster poster;
    PasteboardBroker broker(board, KeyEventSynth(poster), PasteboardProfile::linuxX11());
    broker.writeTransient("fixed", SlackDelta::decode(kSlackJSON));
    const auto& written = board.items().at(0);
    std::vector<std::string> types;
    for (auto& [t, b] : written.entries) types.push_back(t);
    EXPECT_EQ(types, (std::vector<std::string>{"text/plain;charset=utf-8", "UTF8_STRING", "text/plain",
                                               "x-kde-passwordManagerHint", "chromium/x-web-custom-data"}));
    EXPECT_EQ(written.find("x-kde-passwordManagerHint")->str(), "secret");
    auto map = ChromiumPickle::decode(written.find("chromium/x-web-custom-data")->view());
    ASSERT_TRUE(map);
    EXPECT_EQ(map->at("text/plain"), "fixed");
}

struct SettleCase {
    const char* name;
    std::optional<std::int64_t> reads;    // the count before the paste; none: the platform cannot tell
    std::optional<Duration> readAt;       // when the application reads the pasted text
    Duration settled;
    bool taken;  // what the pause says: did the application read our text
};

class SettleAfterPaste : public ::testing::TestWithParam<std::tuple<SettleCase, NamedProfile>> {};

TEST_P(SettleAfterPaste, WaitsTheSettleAndForTheApplicationToRead) {
    const auto& [c, named] = GetParam();
    Fixture f(named.profile);
    f.board.reads = c.reads;
    if (c.readAt) f.ex.schedule(*c.readAt, [&] { f.board.reads = *f.board.reads + 1; });
    std::optional<Duration> done;
    bool taken = false;
    spawn(f.ex, [&]() -> Task<void> {
        taken = co_await f.broker.settleAfterPaste(f.broker.contentReadCount());
        done = f.ex.elapsed();
    });
    f.ex.runUntil([&] { return done.has_value(); });
    ASSERT_TRUE(done);
    EXPECT_EQ(*done, c.settled);
    EXPECT_EQ(taken, c.taken);
}

INSTANTIATE_TEST_SUITE_P(
    PasteboardBroker, SettleAfterPaste,
    ::testing::Combine(::testing::Values(SettleCase{"platform_cannot_tell", std::nullopt, std::nullopt, 250ms, true},
                                         SettleCase{"read_within_the_settle", 0, 100ms, 250ms, true},
                                         SettleCase{"read_late", 0, 600ms, 750ms, true},
                                         SettleCase{"never_read", 3, std::nullopt, 2000ms, false}),
                       ::testing::ValuesIn(everyProfile())),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + profileName(std::get<1>(info.param));
    });

namespace {

constexpr WindowId kPaster = 0x1400007;
constexpr WindowId kManager = 0x3000001;

struct TwoReadersCase {
    const char* name;
    std::vector<std::pair<Duration, WindowId>> reads;  // after the paste keystroke, by whom
    Duration settled;
};

class SettleWithTwoReaders : public ::testing::TestWithParam<TwoReadersCase> {};

}  // namespace

TEST_P(SettleWithTwoReaders, OnlyThePastingApplicationsReadsEndTheWait) {
    Fixture f(PasteboardProfile::linuxX11());
    f.board.reads = 0;
    for (auto [at, who] : GetParam().reads) f.ex.schedule(at, [&f, who = who] { f.board.readBy(who); });
    std::optional<Duration> done;
    spawn(f.ex, [&]() -> Task<void> {
        co_await f.broker.settleAfterPaste(f.broker.textReadsBy(kPaster), kPaster);
        done = f.ex.elapsed();
    });
    f.ex.runUntil([&] { return done.has_value(); });
    ASSERT_TRUE(done);
    EXPECT_EQ(*done, GetParam().settled);
}

INSTANTIATE_TEST_SUITE_P(
    PasteboardBroker, SettleWithTwoReaders,
    ::testing::Values(
        TwoReadersCase{"only_the_manager_reads", {{0ms, kManager}, {30ms, kManager}}, 2000ms},
        TwoReadersCase{"manager_first_paster_late", {{5ms, kManager}, {600ms, kPaster}}, 750ms},
        TwoReadersCase{"paster_reads_in_rounds", {{400ms, kPaster}, {520ms, kPaster}, {640ms, kPaster}}, 790ms},
        TwoReadersCase{"manager_keeps_reading_after_the_paster", {{100ms, kPaster}, {200ms, kManager},
                                                                  {240ms, kManager}}, 250ms},
        TwoReadersCase{"paster_never_quiet_within_the_bound",
                       {{1800ms, kPaster}, {1900ms, kPaster}, {1990ms, kPaster}}, 2000ms}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

struct StalledCase {
    const char* name;
    bool readsTheText;  // what the stalled paste asks for when the announcement wakes it
    std::int64_t readsWhenDone;
};

class StalledPaste : public ::testing::TestWithParam<StalledCase> {};

}  // namespace

TEST_P(StalledPaste, APasteStalledUntilTheNextAnnouncementReadsTheCorrectionBeforeTheRestoreAndIsNotTaken) {
    // Chromium reads once, stalls, and goes on only when the clipboard
    // announces a new owner: restoring would hand it the user's clipboard.
    // Such a paste has never inserted anything: it is not reported as done,
    // also when all it asks for then is the list of types.
    Fixture f(PasteboardProfile::linuxX11());
    f.broker.writeTransient("the", std::nullopt);
    f.board.reads = 0;
    f.board.announces = true;
    f.ex.schedule(5ms, [&] { f.board.readBy(kPaster); });
    f.board.onReannounce = [&] {
        f.ex.schedule(1ms, [&] { GetParam().readsTheText ? f.board.readBy(kPaster) : f.board.askBy(kPaster); });
    };
    std::optional<Duration> done;
    std::optional<std::int64_t> readsWhenDone;
    bool taken = true;
    spawn(f.ex, [&]() -> Task<void> {
        taken = co_await f.broker.settleAfterPaste(f.broker.textReadsBy(kPaster), kPaster);
        done = f.ex.elapsed();
        readsWhenDone = f.board.textReadsBy(kPaster);
    });
    f.ex.runUntil([&] { return done.has_value(); });
    ASSERT_TRUE(done);
    EXPECT_EQ(f.board.reannounces, 1);
    EXPECT_EQ(readsWhenDone, GetParam().readsWhenDone) << "the stalled read came after the pause";
    EXPECT_FALSE(taken);
    // A read 1 ms after the announcement is seen at the next 10 ms look.
    EXPECT_EQ(*done, PasteboardBroker::kPasteSettle + (GetParam().readsTheText ? 10ms : 0ms) +
                         PasteboardBroker::kReannounceQuiet);
}

INSTANTIATE_TEST_SUITE_P(PasteboardBroker, StalledPaste,
                         ::testing::Values(StalledCase{"reads_the_text_again", true, 2},
                                           StalledCase{"asks_only_for_the_list_of_types", false, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PasteboardBroker, AStalledPasteWokenWithoutAChangeOfOwnerReadsTheCorrectionAndIsTaken) {
    // The stalled paste goes on at the first event that reaches it; a wake
    // sent to its window comes before any announcement, and changes nothing.
    Fixture f(PasteboardProfile::linuxX11());
    f.broker.writeTransient("the", std::nullopt);
    f.board.reads = 0;
    f.board.announces = true;
    bool stalled = true;
    auto goOn = [&] {
        if (std::exchange(stalled, false)) f.ex.schedule(1ms, [&] { f.board.readBy(kPaster); });
    };
    f.ex.schedule(5ms, [&] { f.board.readBy(kPaster); });
    f.board.onWake = [&](std::optional<WindowId> w) {
        if (w == kPaster) goOn();
    };
    f.board.onReannounce = goOn;
    std::optional<bool> taken;
    spawn(f.ex, [&]() -> Task<void> { taken = co_await f.broker.settleAfterPaste(f.broker.textReadsBy(kPaster), kPaster); });
    f.ex.runUntil([&] { return taken.has_value(); });
    ASSERT_TRUE(taken);
    EXPECT_EQ(f.board.wakes, 1);
    EXPECT_EQ(f.board.textReadsBy(kPaster), 2);
    EXPECT_TRUE(*taken);
}

struct SnapshotCase {
    const char* name;
    std::function<void(FakePasteboard&)> owner;
    bool complete;
};

class SnapshotCompleteness : public ::testing::TestWithParam<SnapshotCase> {};

TEST_P(SnapshotCompleteness, SaysWhetherTheOwnerDeliveredEverything) {
    Fixture f(PasteboardProfile::linuxX11());
    f.board.setItems({item({{"public.utf8-plain-text", "mine"}, {"public.rtf", "{\\rtf1}"}})});
    GetParam().owner(f.board);
    EXPECT_EQ(f.broker.snapshot().complete, GetParam().complete);
}

INSTANTIATE_TEST_SUITE_P(
    PasteboardBroker, SnapshotCompleteness,
    ::testing::Values(SnapshotCase{"everything_read", [](FakePasteboard&) {}, true},
                      SnapshotCase{"a_type_the_owner_refuses", [](FakePasteboard& b) { b.makeUnreadable("public.rtf"); },
                                   true},
                      SnapshotCase{"a_type_that_times_out", [](FakePasteboard& b) { b.makeTimeOut("public.rtf"); },
                                   false},
                      SnapshotCase{"the_type_list_times_out", [](FakePasteboard& b) { b.makeTargetsTimeOut(); },
                                   false}),
    [](const auto& info) { return std::string(info.param.name); });
