#include <gtest/gtest.h>

#include <random>

#include "PickleBuilder.h"
#include "clipboard/ChromiumPickle.h"

using quillant::clipboard::ChromiumPickle;
using Map = std::map<std::string, std::string>;

namespace {

struct DecodeCase {
    const char* name;
    friend void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }
    std::string bytes;
    std::optional<Map> expected;
};

std::string printable(const std::optional<Map>& m) {
    if (!m) return "nothing";
    std::string s = "{";
    for (auto& [k, v] : *m) s += "\"" + k + "\":\"" + v + "\" ";
    return s + "}";
}

class PickleDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PickleDecode, GivesExpectedMapOrNothing) {
    auto result = ChromiumPickle::decode(GetParam().bytes);
    EXPECT_EQ(result, GetParam().expected) << printable(result);
}

const std::u16string kHigh = u"\xD83D";
const std::u16string kLow = u"\xDE00";

INSTANTIATE_TEST_SUITE_P(
    Shape, PickleDecode,
    ::testing::Values(
        DecodeCase{"empty", "", std::nullopt},
        DecodeCase{"three_bytes", hexBytes({4, 0, 0}), std::nullopt},
        DecodeCase{"size_field_only", PickleBuilder().u32(0).sized().substr(0, 4), std::nullopt},
        DecodeCase{"count_truncated", hexBytes({4, 0, 0, 0, 0, 0, 0}), std::nullopt},
        DecodeCase{"zero_count", PickleBuilder().u32(0).sized(), Map{}},
        DecodeCase{"zero_count_size_field_wrong", PickleBuilder().u32(0).sizedAs(0xFFFFFFFF), Map{}},
        DecodeCase{"one_entry_vector", hexBytes({0x14, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x61, 0, 0x62, 0, 1, 0, 0, 0, 0x78, 0, 0, 0}),
                   Map{{"ab", "x"}}},
        DecodeCase{"size_field_too_small", PickleBuilder().u32(1).str(u"ab").str(u"x").sizedAs(0), Map{{"ab", "x"}}},
        DecodeCase{"size_field_too_large", PickleBuilder().u32(1).str(u"ab").str(u"x").sizedAs(9999), Map{{"ab", "x"}}},
        DecodeCase{"final_odd_value_without_padding", PickleBuilder().u32(1).str(u"k").str(u"abc", false).sized(),
                   Map{{"k", "abc"}}},
        DecodeCase{"padding_bytes_not_inspected", PickleBuilder().u32(1).str(u"k", false).raw({0xAA, 0xBB}).str(u"v").sized(),
                   Map{{"k", "v"}}},
        DecodeCase{"empty_strings", PickleBuilder().u32(1).str(u"").str(u"").sized(), Map{{"", ""}}},
        DecodeCase{"count_larger_than_entries", PickleBuilder().u32(2).str(u"a").str(u"b").sized(), std::nullopt},
        DecodeCase{"count_smaller_than_entries", PickleBuilder().u32(1).str(u"a").str(u"1").str(u"b").str(u"2").sized(),
                   Map{{"a", "1"}}},
        DecodeCase{"trailing_garbage_ignored", PickleBuilder().u32(1).str(u"a").str(u"1").raw({1, 2, 3}).sized(),
                   Map{{"a", "1"}}},
        DecodeCase{"repeated_key_keeps_last", PickleBuilder().u32(3).str(u"a").str(u"1").str(u"b").str(u"2").str(u"a").str(u"3").sized(),
                   Map{{"a", "3"}, {"b", "2"}}},
        DecodeCase{"key_without_value", PickleBuilder().u32(1).str(u"a").sized(), std::nullopt},
        DecodeCase{"value_length_truncated", PickleBuilder().u32(1).str(u"a").raw({1, 0}).sized(), std::nullopt},
        DecodeCase{"units_one_byte_short", PickleBuilder().u32(1).str(u"a").u32(2).raw({0x61, 0, 0x62}).sized(), std::nullopt},
        DecodeCase{"real_chromium_entries",
                   PickleBuilder().u32(2).str(u"public.utf8-plain-text").str(u"hi").str(u"slack/texty").str(u"{}").sized(),
                   Map{{"public.utf8-plain-text", "hi"}, {"slack/texty", "{}"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Lengths chosen so that 32-bit offset arithmetic would wrap back into the buffer.
INSTANTIATE_TEST_SUITE_P(
    Hostile, PickleDecode,
    ::testing::Values(
        DecodeCase{"huge_count", PickleBuilder().u32(0xFFFFFFFF).str(u"a").str(u"b").sized(), std::nullopt},
        DecodeCase{"max_length", PickleBuilder().u32(1).u32(0xFFFFFFFF).raw({0x61, 0, 0, 0}).sized(), std::nullopt},
        DecodeCase{"length_wrapping_32_bits", PickleBuilder().u32(1).u32(0x80000000).raw({0x61, 0, 0, 0}).sized(), std::nullopt},
        DecodeCase{"length_wrapping_to_cursor", PickleBuilder().u32(1).u32(0xFFFFFFFC).str(u"x").str(u"y").sized(),
                   std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Utf16, PickleDecode,
    ::testing::Values(
        DecodeCase{"surrogate_pair", PickleBuilder().u32(1).str(u"e").str(kHigh + kLow).sized(), Map{{"e", "\U0001F600"}}},
        DecodeCase{"bmp_non_ascii", PickleBuilder().u32(1).str(u"k\u00e9").str(u"\u65e5\u672c").sized(),
                   Map{{"k\u00e9", "\u65e5\u672c"}}},
        DecodeCase{"nul_unit_kept", PickleBuilder().u32(1).str(u"k").str(std::u16string(u"a\0b", 3)).sized(),
                   Map{{"k", std::string("a\0b", 3)}}},
        DecodeCase{"lone_high_at_end", PickleBuilder().u32(1).str(u"k").str(u"a" + kHigh).sized(), std::nullopt},
        DecodeCase{"high_then_ascii", PickleBuilder().u32(1).str(u"k").str(kHigh + u"a").sized(), std::nullopt},
        DecodeCase{"high_then_high", PickleBuilder().u32(1).str(u"k").str(kHigh + kHigh).sized(), std::nullopt},
        DecodeCase{"lone_low", PickleBuilder().u32(1).str(u"k").str(kLow + u"a").sized(), std::nullopt},
        DecodeCase{"reversed_pair", PickleBuilder().u32(1).str(u"k").str(kLow + kHigh).sized(), std::nullopt},
        DecodeCase{"lone_surrogate_in_key", PickleBuilder().u32(1).str(kHigh).str(u"v").sized(), std::nullopt},
        DecodeCase{"bad_second_entry_discards_first", PickleBuilder().u32(2).str(u"a").str(u"1").str(u"b").str(kLow).sized(),
                   std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct EncodeCase {
    const char* name;
    friend void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }
    Map map;
    std::string expected;
};

class PickleEncode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(PickleEncode, IsByteExact) { EXPECT_EQ(ChromiumPickle::encode(GetParam().map), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Vectors, PickleEncode,
    ::testing::Values(
        EncodeCase{"empty_map", {}, hexBytes({4, 0, 0, 0, 0, 0, 0, 0})},
        EncodeCase{"one_entry_vector", {{"ab", "x"}},
                   hexBytes({0x14, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x61, 0, 0x62, 0, 1, 0, 0, 0, 0x78, 0, 0, 0})},
        EncodeCase{"empty_strings_take_four_bytes", {{"", ""}}, hexBytes({12, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        // Lengths count UTF-16 code units: an emoji is 2 units (no padding), é is 1.
        EncodeCase{"emoji_is_two_units", {{"\U0001F600", "\u00e9"}},
                   hexBytes({0x14, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE, 1, 0, 0, 0, 0xE9, 0, 0, 0})},
        EncodeCase{"keys_sorted", {{"slack/texty", "{}"}, {"public.utf8-plain-text", "hi"}},
                   PickleBuilder().u32(2).str(u"public.utf8-plain-text").str(u"hi").str(u"slack/texty").str(u"{}").sized()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PickleEncode, InvalidUTF8IsWrittenAsReplacementCharacter) {
    auto decoded = ChromiumPickle::decode(ChromiumPickle::encode({{"k", std::string("a\xFF", 2)}}));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->at("k"), "a\uFFFD");
}

std::string randomString(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {"a", "Z", "/", " ", "\u00e9", "e\u0301", "\u65e5", "\U0001F600",
                                                    "\U0001F44D\U0001F3FD", "\U0001F1EB\U0001F1F7", std::string(1, '\0'),
                                                    "\n", "\"", "\uFFFF", "\U0010FFFF"};
    std::string s;
    for (int n = int(rng() % 9); n > 0; --n) s += pieces[rng() % pieces.size()];
    return s;
}

TEST(PickleRoundTrip, DecodeOfEncodeGivesTheSameMap) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 500; ++i) {
        Map map;
        for (int n = int(rng() % 6); n > 0; --n) map[randomString(rng)] = randomString(rng);
        const std::string bytes = ChromiumPickle::encode(map);
        ASSERT_EQ(bytes.size() % 4, 0u);
        std::size_t cursor = 0;
        ASSERT_EQ(ChromiumPickle::readU32(bytes, cursor), bytes.size() - 4);
        ASSERT_EQ(ChromiumPickle::decode(bytes), map) << "iteration " << i;
    }
}

TEST(PickleReadU32, ReadsLittleEndianAndStopsAtTheEnd) {
    const std::string bytes = hexBytes({0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2});
    std::size_t cursor = 0;
    EXPECT_EQ(ChromiumPickle::readU32(bytes, cursor), 0x12345678u);
    EXPECT_EQ(ChromiumPickle::readU32(bytes, cursor), 0xFFFFFFFFu);
    EXPECT_EQ(cursor, 8u);
    EXPECT_EQ(ChromiumPickle::readU32(bytes, cursor), std::nullopt);
    EXPECT_EQ(cursor, 8u);
    cursor = 100;
    EXPECT_EQ(ChromiumPickle::readU32(bytes, cursor), std::nullopt);
}

}  // namespace
