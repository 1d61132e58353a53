#include "service/RuleCorrector.h"
#include "service/TextScan.h"

#include <gtest/gtest.h>

using namespace quillant::service;

namespace {

struct RuleCase {
    const char* name;
    std::string input;
    std::string expected;
};

class Rules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(Rules, CorrectsAsDocumented) {
    RuleCorrector corrector;
    EXPECT_EQ(corrector.correct(GetParam().input), GetParam().expected);
}

TEST_P(Rules, SecondPassChangesNothing) {
    RuleCorrector corrector;
    EXPECT_EQ(corrector.correct(GetParam().expected), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    RuleCorrector, Rules,
    ::testing::Values(
        // Repeated words.
        RuleCase{"repeated_word", "We met the the team.", "We met the team."},
        RuleCase{"repeated_word_thrice", "It is a a a test.", "It is a test."},
        RuleCase{"repeated_word_keeps_first_case", "The the plan works.", "The plan works."},
        RuleCase{"repeated_word_allowed_doubling", "He had had enough. Bye bye.", "He had had enough. Bye bye."},
        RuleCase{"repeated_word_across_comma_kept", "Well, the, the end.", "Well, the, the end."},
        RuleCase{"repeated_word_across_line_kept", "Read the\nthe list.", "Read the\nthe list."},
        RuleCase{"repeated_number_kept", "Dial 5 5 5.", "Dial 5 5 5."},
        // Sentence-initial capitals.
        RuleCase{"capital_at_start", "hello there.", "Hello there."},
        RuleCase{"capital_after_stop", "It works. it really does! does it? yes.", "It works. It really does! Does it? Yes."},
        RuleCase{"capital_after_closing_quote", "He said \"fine.\" then left.", "He said \"fine.\" Then left."},
        RuleCase{"capital_after_paragraph", "First line\nsecond line\n\nnew paragraph",
                 "First line\nsecond line\n\nNew paragraph"},
        RuleCase{"capital_non_ascii", "ok. élan vital.", "Ok. Élan vital."},
        RuleCase{"no_capital_after_abbreviation", "Bring fruit, e.g. apples, etc. and more vs. less.",
                 "Bring fruit, e.g. apples, etc. and more vs. less."},
        RuleCase{"no_capital_after_ellipsis", "Wait... what happened…  really", "Wait... what happened… really"},
        RuleCase{"no_capital_inside_number", "Version 3.5 works.", "Version 3.5 works."},
        RuleCase{"no_capital_for_identifiers", "iPhone and eBay. npm_cli runs. x2 ok.",
                 "iPhone and eBay. npm_cli runs. x2 ok."},
        // A lone "i".
        RuleCase{"lone_i", "Yes, i know what i'm doing and i'll say i've seen it.",
                 "Yes, I know what I'm doing and I'll say I've seen it."},
        RuleCase{"lone_i_typographic_apostrophe", "Then i\u2019d go.", "Then I\u2019d go."},
        RuleCase{"lone_i_not_in_ie_or_list", "Options, i.e. these: i) first", "Options, i.e. these: i) first"},
        RuleCase{"lone_i_not_inside_words", "It is in the index.", "It is in the index."},
        // Spaces before punctuation.
        RuleCase{"space_before_comma", "Hello , world ; all good : yes !", "Hello, world; all good: yes!"},
        RuleCase{"space_before_final_stop", "Done .", "Done."},
        RuleCase{"space_before_question_then_quote", "He asked \"why ?\"", "He asked \"why?\""},
        RuleCase{"emoticon_keeps_space", "Great :) and ;) too", "Great :) and ;) too"},
        RuleCase{"decimal_keeps_space", "Use .5 of it", "Use .5 of it"},
        // Doubled spaces.
        RuleCase{"doubled_spaces", "Too  many   spaces.  Here.", "Too many spaces. Here."},
        RuleCase{"indentation_and_tabs_kept", "List:\n    indented\tcolumn\t\tthere  ",
                 "List:\n    indented\tcolumn\t\tthere  "},
        // Misspellings, keeping the case pattern.
        RuleCase{"misspelling_lower", "We recieve it tommorow.", "We receive it tomorrow."},
        RuleCase{"misspelling_capitalised", "Teh end.", "The end."},
        RuleCase{"misspelling_upper", "READ TEH DOCS.", "READ THE DOCS."},
        RuleCase{"misspelling_contraction", "It doesnt matter, dont worry.", "It doesn't matter, don't worry."},
        RuleCase{"misspelling_to_two_words", "Thanks alot.", "Thanks a lot."},
        RuleCase{"misspelling_mixed_case_kept", "The TeH flag.", "The TeH flag."},
        RuleCase{"misspelling_then_repeat", "Teh the end.", "The end."},
        // What no rule touches.
        RuleCase{"mention_kept", "@jane can you check teh doc? @Bob Smith too.", "@jane can you check the doc? @Bob Smith too."},
        RuleCase{"mention_at_sentence_start", "ok. @alex.k please look , thanks", "Ok. @alex.k please look, thanks"},
        RuleCase{"mention_label_with_names", "ping @Teh Recieve please", "Ping @Teh Recieve please"},
        RuleCase{"url_kept", "see https://example.com/teh_the?a=i . then go", "See https://example.com/teh_the?a=i. Then go"},
        RuleCase{"email_kept", "mail teh.team@example.com now", "Mail teh.team@example.com now"},
        RuleCase{"code_kept", "run `teh  i` and ```\nteh  the\n``` ok", "Run `teh  i` and ```\nteh  the\n``` ok"},
        RuleCase{"empty", "", ""},
        RuleCase{"only_whitespace", "  \n ", "  \n "},
        RuleCase{"crlf_kept", "one\r\n\r\ntwo", "One\r\n\r\nTwo"},
        RuleCase{"emoji_then_capital", "\U0001F44D nice  work", "\U0001F44D Nice work"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextScan, TokensJoinBackToTheInput) {
    for (std::string text : {std::string("a, b  c\r\nd\te@f.g `h` ```i``` @j.k. http://l/m)."),
                             std::string("bad \xff\xfe utf8 \xc3"), std::string("\u2028x\u2029y\u0085"),
                             std::string("```unterminated code"), std::string("@"), std::string("`")}) {
        EXPECT_EQ(join(tokenize(text)), text);
    }
}

TEST(TextScan, FindsMentionHandlesButNotAddresses) {
    EXPECT_EQ(mentionHandles("hi @jane and @Bob Smith, not bob@example.com (@kim.lee.)"),
              (std::vector<std::string>{"@jane", "@Bob", "@kim.lee"}));
}

TEST(TextScan, ChecksHandlesInOrder) {
    EXPECT_TRUE(containsInOrder("Hi @a and @b", {"@a", "@b"}));
    EXPECT_FALSE(containsInOrder("Hi @b and @a", {"@a", "@b"}));
    EXPECT_FALSE(containsInOrder("Hi @A", {"@a"}));
    EXPECT_TRUE(containsInOrder("anything", {}));
}

}  // namespace
