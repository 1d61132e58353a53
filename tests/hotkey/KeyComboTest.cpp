#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hotkey/KeyCombo.h"
#include "hotkey/KeyComboSystem.h"
#include "testsupport/FakeMainMenu.h"
#include "testsupport/FakeSymbolicHotkeys.h"

using namespace quillant::hotkey;
using quillant::testing::FakeMainMenu;
using quillant::testing::FakeSymbolicHotkeys;

namespace {
const ModifierFlags kCtrlOptCmd = ModifierFlags::control | ModifierFlags::option | ModifierFlags::command;

std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs(const std::vector<KeyCombo>& combos) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (const auto& c : combos) out.emplace_back(c.carbonKeyCode, c.carbonModifiers);
    return out;
}
}  // namespace

TEST(KeyCombo, BuildsFromKeyAndFlagsKeepingOnlyTheFourModifiers) {
    KeyCombo plain(Key(KeyCase::k), kCtrlOptCmd);
    EXPECT_EQ(plain, KeyCombo(40, 6400));
    KeyCombo extra(Key(KeyCase::k), kCtrlOptCmd | ModifierFlags::capsLock | ModifierFlags::function);
    EXPECT_EQ(extra, plain);
    EXPECT_EQ(KeyCombo(Key(KeyCase::g), ModifierFlags::option | ModifierFlags::shift), KeyCombo(5, 2560));
}

TEST(KeyCombo, ViewsReadAndWriteTheNumericFields) {
    KeyCombo combo(7, 0x100 | 0x1);  // a stray bit is carried but not read
    EXPECT_EQ(combo.key(), Key(KeyCase::x));
    EXPECT_EQ(combo.modifiers(), ModifierFlags::command);

    combo.setKey(Key(KeyCase::f5));
    EXPECT_EQ(combo.carbonKeyCode, 96u);
    combo.setKey(std::nullopt);
    EXPECT_EQ(combo.carbonKeyCode, 0u);
    EXPECT_EQ(combo.key(), Key(KeyCase::a));

    combo.setModifiers(ModifierFlags::shift | ModifierFlags::help);
    EXPECT_EQ(combo.carbonModifiers, 512u);

    EXPECT_EQ(KeyCombo(52, 0).key(), std::nullopt);
    EXPECT_TRUE(KeyCombo(52, 0).isValid());
}

TEST(KeyCombo, DescriptionIsModifiersThenKey) {
    struct Case {
        KeyCombo combo;
        std::string text;
    };
    const Case cases[] = {
        {KeyCombo(Key(KeyCase::k), kCtrlOptCmd), "⌃⌥⌘K"},
        {KeyCombo(Key(KeyCase::four), ModifierFlags::shift | ModifierFlags::command), "⇧⌘4"},
        {KeyCombo(52, 256), "⌘"},
        {KeyCombo(200, 0), ""},
        {KeyCombo(36, 0), "↩\uFE0E"},
        {KeyCombo(122, 2048), "⌥\uF860F1"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.combo.description(), c.text);
}

TEST(KeyCombo, DictionaryRoundTrips) {
    KeyCombo combo(Key(KeyCase::k), kCtrlOptCmd);
    DefaultsDictionary expected{{"keyCode", std::int64_t{40}}, {"modifiers", std::int64_t{6400}}};
    EXPECT_EQ(combo.dictionary(), expected);
    EXPECT_EQ(KeyCombo::fromDictionary(combo.dictionary()), combo);
    KeyCombo extreme(0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(KeyCombo::fromDictionary(extreme.dictionary()), extreme);
}

struct DictionaryCase {
    const char* name;
    DefaultsDictionary dictionary;
    std::optional<KeyCombo> expected;
};

class KeyComboFromDictionary : public ::testing::TestWithParam<DictionaryCase> {};

TEST_P(KeyComboFromDictionary, AcceptsOnlyTwoIntegersInRange) {
    EXPECT_EQ(KeyCombo::fromDictionary(GetParam().dictionary), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyComboFromDictionary,
    ::testing::Values(
        DictionaryCase{"empty", {}, std::nullopt},
        DictionaryCase{"noModifiers", {{"keyCode", std::int64_t{40}}}, std::nullopt},
        DictionaryCase{"noKeyCode", {{"modifiers", std::int64_t{256}}}, std::nullopt},
        DictionaryCase{"keyCodeAsText", {{"keyCode", std::string("40")}, {"modifiers", std::int64_t{256}}},
                       std::nullopt},
        DictionaryCase{"modifiersAsReal", {{"keyCode", std::int64_t{40}}, {"modifiers", 256.0}}, std::nullopt},
        DictionaryCase{"keyCodeAsBool", {{"keyCode", true}, {"modifiers", std::int64_t{256}}}, std::nullopt},
        DictionaryCase{"wrongCase", {{"KeyCode", std::int64_t{40}}, {"modifiers", std::int64_t{256}}},
                       std::nullopt},
        DictionaryCase{"negative", {{"keyCode", std::int64_t{-1}}, {"modifiers", std::int64_t{256}}}, std::nullopt},
        DictionaryCase{"tooLarge", {{"keyCode", std::int64_t{40}}, {"modifiers", std::int64_t{4294967296}}},
                       std::nullopt},
        DictionaryCase{"largest", {{"keyCode", std::int64_t{4294967295}}, {"modifiers", std::int64_t{0}}},
                       KeyCombo(4294967295u, 0)},
        DictionaryCase{"extraEntries",
                       {{"keyCode", std::int64_t{5}}, {"modifiers", std::int64_t{2560}}, {"note", std::string("x")}},
                       KeyCombo(5, 2560)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeyComboQueries, StandardCombosAreTheFortySixConventions) {
    const std::vector<std::pair<std::string, std::pair<std::uint32_t, std::uint32_t>>> expected = {
        {"⌘,", {43, 256}},   {"⌘H", {4, 256}},    {"⌥⌘H", {4, 2304}},  {"⌘Q", {12, 256}},   {"⌘N", {45, 256}},
        {"⌘O", {31, 256}},   {"⌘W", {13, 256}},   {"⌘S", {1, 256}},    {"⇧⌘S", {1, 768}},   {"⌘R", {15, 256}},
        {"⇧⌘P", {35, 768}},  {"⌘P", {35, 256}},   {"⌘Z", {6, 256}},    {"⇧⌘Z", {6, 768}},   {"⌘X", {7, 256}},
        {"⌘C", {8, 256}},    {"⌘V", {9, 256}},    {"⌥⇧⌘V", {9, 2816}}, {"⌘A", {0, 256}},    {"⌘F", {3, 256}},
        {"⌥⌘F", {3, 2304}},  {"⌘G", {5, 256}},    {"⇧⌘G", {5, 768}},   {"⌘E", {14, 256}},   {"⌘J", {38, 256}},
        {"⇧⌘;", {41, 768}},  {"⌘;", {41, 256}},   {"⌘T", {17, 256}},   {"⌘B", {11, 256}},   {"⌘I", {34, 256}},
        {"⌘U", {32, 256}},   {"⇧⌘=", {24, 768}},  {"⌘-", {27, 256}},   {"⇧⌘C", {8, 768}},   {"⌥⌘C", {8, 2304}},
        {"⌥⌘V", {9, 2304}},  {"⇧⌘[", {33, 768}},  {"⇧⌘\\", {42, 768}}, {"⇧⌘]", {30, 768}},  {"⌃⌘C", {8, 4352}},
        {"⌃⌘V", {9, 4352}},  {"⌥⌘T", {17, 2304}}, {"⌃⌘S", {1, 4352}},  {"⌃⌘F", {3, 4352}},  {"⌘M", {46, 256}},
        {"⇧⌘/", {44, 768}},
    };
    auto combos = standardKeyCombos();
    ASSERT_EQ(combos.size(), 46u);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(combos[i].description(), expected[i].first) << i;
        EXPECT_EQ(combos[i], KeyCombo(expected[i].second.first, expected[i].second.second)) << i;
    }
}

TEST(KeyComboQueries, SystemCombosKeepEnabledReadableEntriesInOrder) {
    FakeSymbolicHotkeys source;
    auto entry = [](DefaultsValue enabled, DefaultsValue code, DefaultsValue modifiers) {
        return DefaultsDictionary{{std::string(kSymbolicHotKeyEnabled), enabled},
                                  {std::string(kSymbolicHotKeyCode), code},
                                  {std::string(kSymbolicHotKeyModifiers), modifiers}};
    };
    std::vector<DefaultsDictionary> list{
        entry(true, std::int64_t{49}, std::int64_t{256}),
        entry(false, std::int64_t{48}, std::int64_t{256}),                   // disabled
        entry(std::int64_t{1}, std::int64_t{123}, std::int64_t{4096}),      // number used as a flag
        entry(std::int64_t{0}, std::int64_t{124}, std::int64_t{4096}),      // disabled by number
        entry(std::string("yes"), std::int64_t{1}, std::int64_t{256}),      // flag not a number
        entry(true, std::string("49"), std::int64_t{256}),                  // code not a number
        entry(true, std::int64_t{20}, 768.0),                                // real modifiers still a number
        entry(true, std::int64_t{-1}, std::int64_t{0x1'0000'0100}),         // low 32 bits
        entry(true, 1e300, std::int64_t{256}),                              // unrepresentable
        {{std::string(kSymbolicHotKeyCode), std::int64_t{5}}, {std::string(kSymbolicHotKeyModifiers), std::int64_t{0}}},
        {{std::string(kSymbolicHotKeyEnabled), true}, {std::string(kSymbolicHotKeyCode), std::int64_t{5}}},
    };
    source.list = {0, list};
    EXPECT_EQ(pairs(systemKeyCombos(source)),
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                  {49, 256}, {123, 4096}, {20, 768}, {0xFFFFFFFF, 256}}));

    source.list = {-50, list};
    EXPECT_TRUE(systemKeyCombos(source).empty());
    source.list = {0, std::nullopt};
    EXPECT_TRUE(systemKeyCombos(source).empty());
}

TEST(KeyComboQueries, MenuCombosAreDepthFirstInMenuOrder) {
    const auto cmd = ModifierFlags::command;
    Menu edit{{
        {"z", cmd, std::nullopt},
        {"Z", cmd | ModifierFlags::shift, std::nullopt},
        {"", cmd, std::nullopt},           // no key equivalent
        {"esc", cmd, std::nullopt},        // names no key
        {"\uF860F1", ModifierFlags(), std::nullopt},
    }};
    Menu app{{
        {"Q", cmd, std::nullopt},
        {"", ModifierFlags(), edit},
        {"q", cmd | ModifierFlags::function, std::nullopt},  // duplicates stay
    }};
    EXPECT_EQ(pairs(keyCombos(app)), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                                         {12, 256}, {6, 256}, {6, 768}, {122, 0}, {12, 256}}));

    FakeMainMenu source;
    EXPECT_TRUE(mainMenuKeyCombos(source).empty());
    source.menu = app;
    EXPECT_EQ(mainMenuKeyCombos(source), keyCombos(app));
}
