#include <gtest/gtest.h>

#include "clipboard/ApplicationChords.h"

using namespace quillant::clipboard;

namespace {

struct Case {
    const char* name;
    std::optional<FocusedApplication> focus;
    std::vector<std::pair<std::string, std::string>> userEntries;
    ChordDecision expected;
};

FocusedApplication app(std::string instance, std::string klass) { return {1, std::move(instance), std::move(klass)}; }

using Src = ChordDecision::Source;
constexpr auto ctrl = ChordChoice::control;
constexpr auto shift = ChordChoice::controlShift;
constexpr auto refuse = ChordChoice::refuse;

class Decide : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(Decide, PicksTheChordForTheFocusedApplication) {
    auto table = ApplicationChords::builtIn();
    for (auto& [name, choice] : GetParam().userEntries) table.addUserEntry(name, choice);
    EXPECT_EQ(table.decide(GetParam().focus), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    ApplicationChords, Decide,
    ::testing::Values(
        Case{"unknown_focus", std::nullopt, {}, {ctrl, Src::fallback}},
        Case{"ordinary_application", app("chromium", "Chromium"), {}, {ctrl, Src::fallback}},
        Case{"no_names_at_all", app("", ""), {}, {ctrl, Src::fallback}},
        Case{"xterm", app("xterm", "XTerm"), {}, {refuse, Src::builtIn}},
        Case{"uxterm", app("xterm", "UXTerm"), {}, {refuse, Src::builtIn}},
        Case{"xfce4_terminal", app("xfce4-terminal", "Xfce4-terminal"), {}, {refuse, Src::builtIn}},
        Case{"gnome_terminal_by_class", app("gnome-terminal-server", "Gnome-terminal"), {}, {refuse, Src::builtIn}},
        Case{"wezterm_by_reverse_domain_class", app("org.wezfurlong.wezterm", "org.wezfurlong.wezterm"), {},
             {refuse, Src::builtIn}},
        Case{"st_256color", app("st-256color", "st-256color"), {}, {refuse, Src::builtIn}},
        Case{"urxvt", app("urxvt", "URxvt"), {}, {refuse, Src::builtIn}},
        Case{"a_name_that_merely_contains_term", app("libreoffice-writer", "libreoffice-writer-term"), {},
             {ctrl, Src::fallback}},
        Case{"user_opts_a_terminal_in_by_class", app("xterm", "XTerm"), {{"XTerm", "ctrl+shift"}},
             {shift, Src::userEntry}},
        Case{"user_entry_by_instance_beats_built_in_class", app("myterm", "Konsole"), {{"MYTERM", "Ctrl + Shift"}},
             {shift, Src::userEntry}},
        Case{"user_refuses_an_application", app("gimp-2.10", "Gimp-2.10"), {{"gimp-2.10", "refuse"}},
             {refuse, Src::userEntry}},
        Case{"user_gives_a_terminal_plain_ctrl", app("kitty", "kitty"), {{" kitty ", "ctrl"}}, {ctrl, Src::userEntry}},
        Case{"misspelt_entry_is_ignored", app("kitty", "kitty"), {{"kitty", "ctrl-shift"}}, {refuse, Src::builtIn}},
        Case{"empty_name_is_ignored", app("", "XTerm"), {{"", "ctrl+shift"}}, {refuse, Src::builtIn}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ApplicationChords, ChoiceWordsRoundTripAndNothingElseIsAccepted) {
    for (auto c : {ctrl, shift, refuse}) EXPECT_EQ(ApplicationChords::parseChoice(ApplicationChords::choiceName(c)), c);
    for (auto bad : {"", "shift", "ctrl+alt", "ctrl+shift+c", "yes", "ctrl,shift"})
        EXPECT_EQ(ApplicationChords::parseChoice(bad), std::nullopt) << bad;
    auto table = ApplicationChords::builtIn();
    EXPECT_FALSE(table.addUserEntry("  ", "ctrl"));
    EXPECT_FALSE(table.addUserEntry("xterm", "maybe"));
    EXPECT_GE(table.builtInCount(), 20u);
}
