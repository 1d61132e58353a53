#include <gtest/gtest.h>

#include "text/Text.h"

using namespace quillant::text;

struct LengthCase {
    const char* name;
    std::string text;
    std::size_t expected;
};

class GraphemeCount : public ::testing::TestWithParam<LengthCase> {};

TEST_P(GraphemeCount, CountsUserPerceivedCharacters) {
    EXPECT_EQ(graphemeCount(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Text, GraphemeCount,
    ::testing::Values(
        LengthCase{"empty", "", 0}, LengthCase{"ascii", "hello", 5},
        LengthCase{"crlf_is_one", "a\r\nb", 3},
        LengthCase{"family_emoji", "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466", 1},
        LengthCase{"combining_acute", "e\u0301", 1}, LengthCase{"precomposed", "\u00e9", 1},
        LengthCase{"latin_letters", "gr\u00f6\u00dfer \u0153uvre", 12}, LengthCase{"latin_then_combining", "\u00e9\u0301a", 2},
        LengthCase{"latin_lead_byte_cut", std::string("a\xc3"), 2},
        LengthCase{"flag", "\U0001F1EB\U0001F1F7", 1}, LengthCase{"hangul_jamo", "\u1100\u1161\u11A8", 1},
        LengthCase{"skin_tone", "\U0001F44D\U0001F3FD!", 2}, LengthCase{"spaces", "   ", 3},
        LengthCase{"invalid_utf8_counts_replacements", std::string("a\xff" "b"), 3}),
    [](const auto& info) { return std::string(info.param.name); });

struct EqualityCase {
    const char* name;
    std::string a, b;
    bool equal;
};

class CanonicalEquality : public ::testing::TestWithParam<EqualityCase> {};

TEST_P(CanonicalEquality, ComparesUnderCanonicalEquivalence) {
    EXPECT_EQ(canonicallyEqual(GetParam().a, GetParam().b), GetParam().equal);
    EXPECT_EQ(canonicallyEqual(GetParam().b, GetParam().a), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(
    Text, CanonicalEquality,
    ::testing::Values(EqualityCase{"decomposed_vs_precomposed", "caf\u00e9", "cafe\u0301", true},
                      EqualityCase{"identical", "abc", "abc", true},
                      EqualityCase{"case_differs", "abc", "Abc", false},
                      // Compatibility equivalents are not canonical ones.
                      EqualityCase{"ligature_is_not_canonical", "\uFB01", "fi", false},
                      EqualityCase{"reordered_marks", "a\u0301\u0323", "a\u0323\u0301", true},
                      EqualityCase{"trailing_space_matters", "a", "a ", false},
                      EqualityCase{"kelvin_sign_is_ascii_k", "\u212a", "K", true}),
    [](const auto& info) { return std::string(info.param.name); });

struct TrimCase {
    const char* name;
    std::string input, expected;
};

class Trimming : public ::testing::TestWithParam<TrimCase> {};

TEST_P(Trimming, RemovesUnicodeWhiteSpaceAtBothEnds) { EXPECT_EQ(trimmed(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Text, Trimming,
    ::testing::Values(TrimCase{"nbsp_and_line_separator", "\u00a0\u00a0\u2028", ""},
                      TrimCase{"ascii", " \t\n key \r\n", "key"},
                      TrimCase{"vertical_tab_is_but_unit_separator_is_not", "\x1fk\v", "\x1fk"},
                      TrimCase{"inner_kept", "  a b  ", "a b"},
                      TrimCase{"ideographic_space", "\u3000k\u3000", "k"},
                      TrimCase{"zero_width_space_is_not_white_space", "\u200bk", "\u200bk"},
                      TrimCase{"empty", "", ""}, TrimCase{"non_ascii_kept", "\u00e9", "\u00e9"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextLowercase, UsesFullUnicodeCaseMapping) {
    EXPECT_EQ(lowercased("ABC"), "abc");
    EXPECT_EQ(lowercased("\u00c9"), "\u00e9");
    EXPECT_EQ(lowercased("\u0130"), "i\u0307");  // full mapping grows the string
}

TEST(TextUTF16, RoundTripsAstralCharacters) {
    std::string s = "a\U0001F600\u00e9";
    auto u = toUTF16(s);
    EXPECT_EQ(u.size(), 4u);
    EXPECT_EQ(toUTF8(u), s);
    EXPECT_TRUE(isValidUTF8(s));
    EXPECT_FALSE(isValidUTF8(std::string("\xc3")));
}
