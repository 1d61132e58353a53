// The fix flow and the window it works on: which chord an application gets
// (or a refusal), a clipboard owner too slow to copy, the focus moving while
// the service answers, and quitting in the middle of a run.
#include <gtest/gtest.h>

#include <functional>

#include "testsupport/CoordinatorHarness.h"

using namespace quillant;
using namespace quillant::app;
using namespace quillant::testing;
using namespace std::chrono_literals;
using S = MenuBarState;

namespace {

constexpr clipboard::WindowId kEditor = 0x1400007;
constexpr clipboard::WindowId kOther = 0x2200003;

struct Row {
    const char* name;
    std::function<void(CoordinatorHarness&)> setup;  // after start, before the press
    std::string status;
    std::string lastLine;
    // The chords that went out, in order: "C", "shift+C", "V", "shift+V" (key-downs only).
    std::vector<std::string> chords;
    bool clipboardTouched;
};

void inEditor(CoordinatorHarness& h) { h.focus.focus(kEditor, "gedit", "Gedit"); }
void inXterm(CoordinatorHarness& h) { h.focus.focus(kEditor, "xterm", "XTerm"); }
void setting(CoordinatorHarness& h, std::string name, std::string value) {
    auto entries = h.defaults.dictionaryForKey("applicationChords").value_or(hotkey::DefaultsDictionary{});
    entries[name] = std::move(value);
    h.defaults.setObject(entries, "applicationChords");
}
// The focus moves to `window` on the n-th look (1: before the copy, 2: after the snapshot, 3: before the paste).
void focusMovesOnLook(CoordinatorHarness& h, int n, std::optional<clipboard::FocusedApplication> to) {
    h.focus.onQuery = [&h, n, to](int query) {
        if (query == n) h.focus.focused = to;
    };
}

const std::string kTerminalRefusal = "Not fixed — XTerm is a terminal; its selection can't be replaced";

std::vector<Row> rows() {
    return {
        {"unknown_application_gets_ctrl", inEditor, "Replaced (3 → 3 chars)", "paste committed; clipboard restored",
         {"C", "V"}, true},
        {"unknown_focus_gets_ctrl", [](auto&) {}, "Replaced (3 → 3 chars)", "paste committed; clipboard restored",
         {"C", "V"}, true},
        {"terminal_is_refused", inXterm, kTerminalRefusal, "fix refused for XTerm: terminals are refused unless opted in",
         {}, false},
        {"terminal_known_by_its_class_only",
         [](auto& h) { h.focus.focus(kEditor, "gnome-terminal-server", "Gnome-terminal"); },
         "Not fixed — Gnome-terminal is a terminal; its selection can't be replaced",
         "fix refused for Gnome-terminal: terminals are refused unless opted in", {}, false},
        {"terminal_opted_into_ctrl_shift",
         [](auto& h) {
             inXterm(h);
             setting(h, "XTerm", "ctrl+shift");
         },
         "Replaced (3 → 3 chars)", "paste committed; clipboard restored", {"shift+C", "shift+V"}, true},
        {"terminal_opted_into_plain_ctrl_by_instance_name",
         [](auto& h) {
             h.focus.focus(kEditor, "kitty", "kitty");
             setting(h, "kitty", "Ctrl");
         },
         "Replaced (3 → 3 chars)", "paste committed; clipboard restored", {"C", "V"}, true},
        {"application_turned_off_in_settings",
         [](auto& h) {
             h.focus.focus(kEditor, "gimp-2.10", "Gimp-2.10");
             setting(h, "gimp-2.10", "refuse");
         },
         "Not fixed — turned off for Gimp-2.10 in settings", "fix refused for Gimp-2.10: turned off in settings", {},
         false},
        {"a_misspelt_setting_keeps_the_refusal",
         [](auto& h) {
             inXterm(h);
             setting(h, "xterm", "ctrl-shift");
         },
         kTerminalRefusal, "fix refused for XTerm: terminals are refused unless opted in", {}, false},
        {"focus_moves_to_a_terminal_while_the_clipboard_is_read",
         [](auto& h) {
             inEditor(h);
             focusMovesOnLook(h, 2, clipboard::FocusedApplication{kOther, "xterm", "XTerm"});
         },
         kTerminalRefusal, "fix refused for XTerm: terminals are refused unless opted in", {}, false},
        {"focus_moves_during_the_request",
         [](auto& h) {
             inEditor(h);
             focusMovesOnLook(h, 3, clipboard::FocusedApplication{kOther, "slack", "Slack"});
         },
         "Not pasted — focus moved to another window",
         "focus moved away from Gedit during the fix; correction not pasted", {"C"}, true},
        {"focus_lost_during_the_request",
         [](auto& h) {
             inEditor(h);
             focusMovesOnLook(h, 3, std::nullopt);
         },
         "Not pasted — focus moved to another window",
         "focus moved away from Gedit during the fix; correction not pasted", {"C"}, true},
        {"another_window_of_the_same_application_is_another_window",
         [](auto& h) {
             inEditor(h);
             focusMovesOnLook(h, 3, clipboard::FocusedApplication{kOther, "gedit", "Gedit"});
         },
         "Not pasted — focus moved to another window",
         "focus moved away from Gedit during the fix; correction not pasted", {"C"}, true},
        {"paste_keystroke_cannot_be_sent",
         [](auto& h) {
             inEditor(h);
             h.poster.undeliverable.insert(clipboard::kKeyCodeV);
         },
         "Not pasted — the paste keystroke could not be sent",
         "paste keystroke could not be sent; correction not pasted", {"C"}, true},
        {"the_application_never_reads_the_correction",
         [](auto& h) {
             inEditor(h);
             h.board.reads = 0;  // it got the paste keystroke but never asks for our text
         },
         "Not pasted — the application didn't take the correction",
         "the application did not take the correction; not pasted", {"C", "V"}, true},
        {"owner_too_slow_to_list_its_types",
         [](auto& h) {
             inEditor(h);
             h.board.makeTargetsTimeOut();
         },
         "Not fixed — the clipboard's owner didn't answer in time",
         "clipboard snapshot incomplete: its owner did not answer in time; fix refused", {}, false},
        {"owner_too_slow_for_one_type",
         [](auto& h) {
             inEditor(h);
             h.board.makeTimeOut("public.rtf");
         },
         "Not fixed — the clipboard's owner didn't answer in time",
         "clipboard snapshot incomplete: its owner did not answer in time; fix refused", {}, false},
    };
}

class FixFlowFocus : public ::testing::TestWithParam<Row> {};

std::vector<std::string> chordsSent(const FakeKeyEventPoster& poster) {
    std::vector<std::string> out;
    for (auto& e : poster.events) {
        if (!e.keyDown) continue;
        std::string key = e.keyCode == clipboard::kKeyCodeC ? "C" : e.keyCode == clipboard::kKeyCodeV ? "V" : "?";
        EXPECT_NE(e.flags & clipboard::kCommandFlag, 0u);
        out.push_back((e.flags & clipboard::kShiftFlag) ? "shift+" + key : key);
    }
    return out;
}

}  // namespace

TEST_P(FixFlowFocus, ChordRefusalAndClipboard) {
    const Row& row = GetParam();
    CoordinatorHarness h;
    h.start();
    h.ex.advance(0ms);
    h.board.setItems(h.userClipboard());
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})", 1500ms));
    row.setup(h);
    const int clearsBefore = h.board.clears;
    GlyphRecorder glyph(h.c(), h.ex);

    h.pressAndSettle();

    EXPECT_EQ(h.c().lastStatus.get(), row.status);
    ASSERT_FALSE(h.logs.records().empty());
    EXPECT_EQ(h.logs.records().back().message, row.lastLine);
    EXPECT_EQ(chordsSent(h.poster), row.chords);
    EXPECT_EQ(h.board.items(), h.userClipboard());
    if (!row.clipboardTouched) {
        EXPECT_EQ(h.board.clears, clearsBefore);
    }
    const bool refused = row.status.rfind("Not ", 0) == 0;
    ASSERT_FALSE(glyph.changes.empty());
    EXPECT_EQ(glyph.changes.back().state, refused ? S::warn : S::idle);
    EXPECT_FALSE(h.c().isRunning.get());
}

INSTANTIATE_TEST_SUITE_P(AppCoordinator, FixFlowFocus, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FixFlowFocus, TheSettleCountsOnlyThePastingApplicationsReads) {
    // A clipboard manager reads the correction the moment it is written; the
    // editor reads it 600 ms after the paste keystroke, in two rounds.
    CoordinatorHarness h;
    h.start();
    h.ex.advance(0ms);
    h.board.setItems(h.userClipboard());
    h.board.reads = 0;
    inEditor(h);
    h.appCopies("teh");
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})"));
    constexpr clipboard::WindowId kManager = 0x3000001;
    std::vector<std::string> editorRead;
    auto copyHandler = h.poster.onPost;
    h.poster.onPost = [&](const clipboard::KeyEvent& e) {
        copyHandler(e);
        if (e.keyCode != clipboard::kKeyCodeV || !e.keyDown) return;
        h.board.readBy(kManager);
        h.ex.schedule(5ms, [&] { h.board.readBy(kManager); });
        for (auto at : {600ms, 700ms})
            h.ex.schedule(at, [&] {
                editorRead.push_back(h.board.stringForType("public.utf8-plain-text").value_or("?"));
                h.board.readBy(kEditor);
            });
    };
    std::optional<Duration> restoredAt;
    auto sub = h.c().lastStatus.onDidSet([&](const std::string& s) {
        if (s.rfind("Replaced", 0) == 0) restoredAt = h.ex.elapsed();
    });
    const Duration t0 = h.ex.elapsed();
    h.pressAndSettle();
    EXPECT_EQ(editorRead, (std::vector<std::string>{"the", "the"}));
    EXPECT_EQ(h.board.items(), h.userClipboard());
    ASSERT_TRUE(restoredAt);
    // Copy 20 ms, then the paste; restored after the editor's last read and a quiet spell.
    EXPECT_EQ(*restoredAt - t0, 20ms + 700ms + clipboard::PasteboardBroker::kPasteQuiet);
}

struct QuitCase {
    const char* name;
    Duration quitAt;  // after the press
};

class FixFlowQuit : public ::testing::TestWithParam<QuitCase> {};

TEST_P(FixFlowQuit, QuittingMidRunPutsTheUsersClipboardBack) {
    CoordinatorHarness h;
    h.start();
    h.ex.advance(0ms);
    h.board.setItems(h.userClipboard());
    h.board.reads = 0;  // the pasting application never reads: the settle runs to its bound
    inEditor(h);
    h.appCopies("teh", 200ms);
    h.fixReplies.push_back(FakeHttpSession::answer(200, R"({"corrected":"the"})", 500ms));
    // As the hotkey does: the run is dropped with the coordinator.
    auto alive = std::make_unique<Lifetime>();
    spawn(h.ex, *alive, [&h] { return h.coordinator->runFixFlow(); });
    h.ex.advance(GetParam().quitAt);
    ASSERT_TRUE(h.c().isRunning.get());
    alive.reset();
    h.coordinator.reset();
    EXPECT_EQ(h.board.items(), h.userClipboard());
    h.ex.advance(5s);
    EXPECT_EQ(h.board.items(), h.userClipboard());
}

INSTANTIATE_TEST_SUITE_P(AppCoordinator, FixFlowQuit,
                         ::testing::Values(QuitCase{"while_copying", 205ms}, QuitCase{"while_the_service_answers", 500ms},
                                           QuitCase{"while_the_correction_waits_to_be_pasted", 1500ms}),
                         [](const auto& info) { return std::string(info.param.name); });
