#include <gtest/gtest.h>

#include "SlackDeltaBuilders.h"
#include "clipboard/MentionSplicer.h"

using quillant::clipboard::MentionSplicer;

namespace {

// Inserts differ from labels on purpose: the found label's text is replaced by
// the op's own insert, and the whole op travels unchanged.
const Op kM1 = mentionOp("<M1>", "U1", "M1", true, false);
const Op kM2 = mentionOp("<M2>", "U2", "M2");
const Op kM1Again = mentionOp("<M1 again>", "U1", "M1");

struct SpliceCase {
    const char* name;
    friend void PrintTo(const SpliceCase& c, std::ostream* os) { *os << c.name; }
    SlackDelta original;
    std::string corrected;
    std::optional<SlackDelta> expected;
};

class Splice : public ::testing::TestWithParam<SpliceCase> {};

TEST_P(Splice, RebuildsTheDelta) {
    auto result = MentionSplicer::splice(GetParam().original, GetParam().corrected);
    EXPECT_EQ(result, GetParam().expected) << (result ? result->encodeJSON().value_or("?") : "nothing");
}

const SlackDelta kTwoMentions{{plain("Hey "), kM1, styled(" and "), kM2, plain("!")}};

INSTANTIATE_TEST_SUITE_P(
    Placement, Splice,
    ::testing::Values(
        SpliceCase{"two_mentions", kTwoMentions, "Hi M1 and M2!",
                   SlackDelta{{plain("Hi "), kM1, plain(" and "), kM2, plain("!")}}},
        SpliceCase{"order_swapped", kTwoMentions, "M2 and M1", std::nullopt},
        SpliceCase{"label_removed", kTwoMentions, "Hi M1 and them", std::nullopt},
        SpliceCase{"exactly_one_label", SlackDelta{{kM1}}, "M1", SlackDelta{{kM1}}},
        SpliceCase{"adjacent_at_edges", kTwoMentions, "M1M2", SlackDelta{{kM1, kM2}}},
        SpliceCase{"case_differs", SlackDelta{{kM1}}, "hi m1", std::nullopt},
        SpliceCase{"first_occurrence_wins", SlackDelta{{kM1}}, "M1 or M1", SlackDelta{{kM1, plain(" or M1")}}},
        SpliceCase{"same_label_twice", SlackDelta{{kM1, plain(" x "), kM1Again}}, "a M1 b M1 c M1",
                   SlackDelta{{plain("a "), kM1, plain(" b "), kM1Again, plain(" c M1")}}},
        SpliceCase{"same_label_twice_one_occurrence", SlackDelta{{kM1, kM1Again}}, "a M1 b", std::nullopt},
        // After M1 the search resumes behind it, so "M1M1" cannot satisfy M1 with overlap.
        SpliceCase{"no_overlap", SlackDelta{{mentionOp("<aa>", "U", "aa"), mentionOp("<aa>", "U", "aa")}}, "aaa",
                   std::nullopt},
        SpliceCase{"non_ascii_labels", SlackDelta{{mentionOp("@J\u00f6rg", "U3", "@J\u00f6rg"), mentionOp("@\U0001F600", "U4", "@\U0001F600")}},
                   "\u00e9 @J\u00f6rg, @\U0001F600.",
                   SlackDelta{{plain("\u00e9 "), mentionOp("@J\u00f6rg", "U3", "@J\u00f6rg"), plain(", "),
                               mentionOp("@\U0001F600", "U4", "@\U0001F600"), plain(".")}}},
        // Exact comparison: a decomposed spelling of the label is not the label.
        SpliceCase{"canonical_variant_not_matched", SlackDelta{{mentionOp("@J\u00f6rg", "U3", "@J\u00f6rg")}},
                   "@Jo\u0308rg", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    WithoutMentions, Splice,
    ::testing::Values(SpliceCase{"text", SlackDelta{{styled("x"), plain("y")}}, "abc", SlackDelta{{plain("abc")}}},
                      SpliceCase{"empty_text", SlackDelta{}, "", SlackDelta{{plain("")}}}),
    [](const auto& info) { return std::string(info.param.name); });

// An empty label would match at any position; it gives nothing rather than
// inserting the mention's text at an arbitrary place or spinning on one spot.
INSTANTIATE_TEST_SUITE_P(
    EmptyLabel, Splice,
    ::testing::Values(SpliceCase{"alone", SlackDelta{{mentionOp("@X", "U9", "")}}, "abc", std::nullopt},
                      SpliceCase{"empty_text", SlackDelta{{mentionOp("@X", "U9", "")}}, "", std::nullopt},
                      SpliceCase{"after_a_found_mention", SlackDelta{{kM1, mentionOp("@X", "U9", "")}}, "M1 abc",
                                 std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Splice, ResultEncodesAndLeavesTheOriginalUnchanged) {
    const SlackDelta original = kTwoMentions;
    auto result = MentionSplicer::splice(original, "Hi M1/M2");
    ASSERT_TRUE(result);
    EXPECT_EQ(original, kTwoMentions);
    EXPECT_EQ(result->encodeJSON(),
              R"({"ops":[{"insert":"Hi "},{"insert":"<M1>","attributes":{"slackmention":{"id":"U1","label":"M1","mention":true,"unverified":false}}},)"
              R"({"insert":"\/"},{"insert":"<M2>","attributes":{"slackmention":{"id":"U2","label":"M2"}}}]})");
}

}  // namespace
