#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "hotkey/Key.h"
#include "hotkey/ModifierFlags.h"

using namespace quillant::hotkey;

namespace {

// The key table in its written notation: "literal" text and U+XXXX code
// points, juxtaposed to concatenate, commas between names. Decoded below so
// that the expectations do not share the implementation's spelling.
struct Row {
    KeyCase value;
    std::uint32_t code;
    const char* description;
    const char* names;
};

const Row kRows[] = {
    {KeyCase::a, 0, R"~("A")~", R"~("a")~"},
    {KeyCase::b, 11, R"~("B")~", R"~("b")~"},
    {KeyCase::c, 8, R"~("C")~", R"~("c")~"},
    {KeyCase::d, 2, R"~("D")~", R"~("d")~"},
    {KeyCase::e, 14, R"~("E")~", R"~("e")~"},
    {KeyCase::f, 3, R"~("F")~", R"~("f")~"},
    {KeyCase::g, 5, R"~("G")~", R"~("g")~"},
    {KeyCase::h, 4, R"~("H")~", R"~("h")~"},
    {KeyCase::i, 34, R"~("I")~", R"~("i")~"},
    {KeyCase::j, 38, R"~("J")~", R"~("j")~"},
    {KeyCase::k, 40, R"~("K")~", R"~("k")~"},
    {KeyCase::l, 37, R"~("L")~", R"~("l")~"},
    {KeyCase::m, 46, R"~("M")~", R"~("m")~"},
    {KeyCase::n, 45, R"~("N")~", R"~("n")~"},
    {KeyCase::o, 31, R"~("O")~", R"~("o")~"},
    {KeyCase::p, 35, R"~("P")~", R"~("p")~"},
    {KeyCase::q, 12, R"~("Q")~", R"~("q")~"},
    {KeyCase::r, 15, R"~("R")~", R"~("r")~"},
    {KeyCase::s, 1, R"~("S")~", R"~("s")~"},
    {KeyCase::t, 17, R"~("T")~", R"~("t")~"},
    {KeyCase::u, 32, R"~("U")~", R"~("u")~"},
    {KeyCase::v, 9, R"~("V")~", R"~("v")~"},
    {KeyCase::w, 13, R"~("W")~", R"~("w")~"},
    {KeyCase::x, 7, R"~("X")~", R"~("x")~"},
    {KeyCase::y, 16, R"~("Y")~", R"~("y")~"},
    {KeyCase::z, 6, R"~("Z")~", R"~("z")~"},
    {KeyCase::zero, 29, R"~("0")~", R"~("zero", "0")~"},
    {KeyCase::one, 18, R"~("1")~", R"~("one", "1")~"},
    {KeyCase::two, 19, R"~("2")~", R"~("two", "2")~"},
    {KeyCase::three, 20, R"~("3")~", R"~("three", "3")~"},
    {KeyCase::four, 21, R"~("4")~", R"~("four", "4")~"},
    {KeyCase::five, 23, R"~("5")~", R"~("five", "5")~"},
    {KeyCase::six, 22, R"~("6")~", R"~("six", "6")~"},
    {KeyCase::seven, 26, R"~("7")~", R"~("seven", "7")~"},
    {KeyCase::eight, 28, R"~("8")~", R"~("eight", "8")~"},
    {KeyCase::nine, 25, R"~("9")~", R"~("nine", "9")~"},
    {KeyCase::period, 47, R"~(".")~", R"~("period", ".")~"},
    {KeyCase::quote, 39, R"~(U+0022)~", R"~("quote", U+0022)~"},
    {KeyCase::rightBracket, 30, R"~("]")~", R"~("rightBracket", "]")~"},
    {KeyCase::semicolon, 41, R"~(";")~", R"~("semicolon", ";")~"},
    {KeyCase::slash, 44, R"~("/")~", R"~("slash", "/")~"},
    {KeyCase::backslash, 42, R"~("\")~", R"~("backslash", "\")~"},
    {KeyCase::comma, 43, R"~(",")~", R"~("comma", ",")~"},
    {KeyCase::equal, 24, R"~("=")~", R"~("equal", "=")~"},
    {KeyCase::grave, 50, R"~(U+0060)~", R"~("grave", U+0060, U+02CB, U+FF40)~"},
    {KeyCase::leftBracket, 33, R"~("[")~", R"~("leftBracket", "[")~"},
    {KeyCase::minus, 27, R"~("-")~", R"~("minus", "-")~"},
    {KeyCase::section, 10, R"~("§")~", R"~("section", "§")~"},
    {KeyCase::space, 49, R"~("␣")~", R"~("space", U+0020, "␣")~"},
    {KeyCase::tab, 48, R"~("⇥")~", R"~("tab", U+0009, "⇥")~"},
    {KeyCase::return_, 36, R"~("↩" U+FE0E)~", R"~("return", U+000D, "↩" U+FE0E, "⏎", "⮐")~"},
    {KeyCase::command, 55, R"~("⌘")~", R"~("command", "⌘", U+F8FF)~"},
    {KeyCase::rightCommand, 54, R"~("⌘")~", R"~("rightcommand")~"},
    {KeyCase::option, 58, R"~("⌥")~", R"~("option", "⌥")~"},
    {KeyCase::rightOption, 61, R"~("⌥")~", R"~("rightoption")~"},
    {KeyCase::control, 59, R"~("⌃")~", R"~("control", "⌃")~"},
    {KeyCase::rightControl, 62, R"~("⌃")~", R"~("rightcontrol")~"},
    {KeyCase::shift, 56, R"~("⇧")~", R"~("shift", "⇧")~"},
    {KeyCase::rightShift, 60, R"~("⇧")~", R"~("rightshift")~"},
    {KeyCase::function, 63, R"~("fn")~", R"~("function", "fn")~"},
    {KeyCase::capsLock, 57, R"~("⇪")~", R"~("capslock", "⇪")~"},
    {KeyCase::pageUp, 116, R"~("⇞")~", R"~("pageup", "⇞")~"},
    {KeyCase::pageDown, 121, R"~("⇟")~", R"~("pagedown", "⇟")~"},
    {KeyCase::home, 115, R"~("↖")~", R"~("home", "↖")~"},
    {KeyCase::end, 119, R"~("↘")~", R"~("end", "↘")~"},
    {KeyCase::upArrow, 126, R"~("↑")~", R"~("uparrow", "↑")~"},
    {KeyCase::rightArrow, 124, R"~("→")~", R"~("rightarrow", "→")~"},
    {KeyCase::downArrow, 125, R"~("↓")~", R"~("downarrow", "↓")~"},
    {KeyCase::leftArrow, 123, R"~("←")~", R"~("leftarrow", "←")~"},
    {KeyCase::f1, 122, R"~(U+F860 "F1")~", R"~("f1", U+F860 "F1")~"},
    {KeyCase::f2, 120, R"~(U+F860 "F2")~", R"~("f2", U+F860 "F2")~"},
    {KeyCase::f3, 99, R"~(U+F860 "F3")~", R"~("f3", U+F860 "F3")~"},
    {KeyCase::f4, 118, R"~(U+F860 "F4")~", R"~("f4", U+F860 "F4")~"},
    {KeyCase::f5, 96, R"~(U+F860 "F5")~", R"~("f5", U+F860 "F5")~"},
    {KeyCase::f6, 97, R"~(U+F860 "F6")~", R"~("f6", U+F860 "F6")~"},
    {KeyCase::f7, 98, R"~(U+F860 "F7")~", R"~("f7", U+F860 "F7")~"},
    {KeyCase::f8, 100, R"~(U+F860 "F8")~", R"~("f8", U+F860 "F8")~"},
    {KeyCase::f9, 101, R"~(U+F860 "F9")~", R"~("f9", U+F860 "F9")~"},
    {KeyCase::f10, 109, R"~(U+F861 "F10")~", R"~("f10", U+F861 "F10")~"},
    {KeyCase::f11, 103, R"~(U+F861 "F11")~", R"~("f11", U+F861 "F11")~"},
    {KeyCase::f12, 111, R"~(U+F861 "F12")~", R"~("f12", U+F861 "F12")~"},
    {KeyCase::f13, 105, R"~(U+F861 "F13")~", R"~("f13", U+F861 "F13")~"},
    {KeyCase::f14, 107, R"~(U+F861 "F14")~", R"~("f14", U+F861 "F14")~"},
    {KeyCase::f15, 113, R"~(U+F861 "F15")~", R"~("f15", U+F861 "F15")~"},
    {KeyCase::f16, 106, R"~(U+F861 "F16")~", R"~("f16", U+F861 "F16")~"},
    {KeyCase::f17, 64, R"~(U+F861 "F17")~", R"~("f17", U+F861 "F17")~"},
    {KeyCase::f18, 79, R"~(U+F861 "F18")~", R"~("f18", U+F861 "F18")~"},
    {KeyCase::f19, 80, R"~(U+F861 "F19")~", R"~("f19", U+F861 "F19")~"},
    {KeyCase::f20, 90, R"~(U+F861 "F20")~", R"~("f20", U+F861 "F20")~"},
    {KeyCase::keypad0, 82, R"~("0")~", R"~("keypad0")~"},
    {KeyCase::keypad1, 83, R"~("1")~", R"~("keypad1")~"},
    {KeyCase::keypad2, 84, R"~("2")~", R"~("keypad2")~"},
    {KeyCase::keypad3, 85, R"~("3")~", R"~("keypad3")~"},
    {KeyCase::keypad4, 86, R"~("4")~", R"~("keypad4")~"},
    {KeyCase::keypad5, 87, R"~("5")~", R"~("keypad5")~"},
    {KeyCase::keypad6, 88, R"~("6")~", R"~("keypad6")~"},
    {KeyCase::keypad7, 89, R"~("7")~", R"~("keypad7")~"},
    {KeyCase::keypad8, 91, R"~("8")~", R"~("keypad8")~"},
    {KeyCase::keypad9, 92, R"~("9")~", R"~("keypad9")~"},
    {KeyCase::keypadClear, 71, R"~("⌧")~", R"~("keypadclear", "⌧")~"},
    {KeyCase::keypadDecimal, 65, R"~(".")~", R"~("keypaddecimal")~"},
    {KeyCase::keypadDivide, 75, R"~("/")~", R"~("keypaddivide")~"},
    {KeyCase::keypadEnter, 76, R"~("↩" U+FE0E)~", R"~("keypadenter")~"},
    {KeyCase::keypadEquals, 81, R"~("=")~", R"~("keypadequals")~"},
    {KeyCase::keypadMinus, 78, R"~("-")~", R"~("keypadminus")~"},
    {KeyCase::keypadMultiply, 67, R"~(U+1D5D1)~", R"~("keypadmultiply")~"},
    {KeyCase::keypadPlus, 69, R"~("+")~", R"~("keypadplus")~"},
    {KeyCase::escape, 53, R"~("⎋")~", R"~("escape", "⎋")~"},
    {KeyCase::delete_, 51, R"~("⌫")~", R"~("delete", "⌫")~"},
    {KeyCase::forwardDelete, 117, R"~("⌦")~", R"~("forwarddelete", "⌦")~"},
    {KeyCase::help, 114, R"~("?" U+20DD)~", R"~("help", "?" U+20DD)~"},
    {KeyCase::volumeUp, 72, R"~("🔊")~", R"~("volumeup", "🔊")~"},
    {KeyCase::volumeDown, 73, R"~("🔉")~", R"~("volumedown", "🔉")~"},
    {KeyCase::mute, 74, R"~("🔇")~", R"~("mute", "🔇")~"},
};

std::string utf8(char32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
    return out;
}

std::vector<std::string> decode(std::string_view notation) {
    std::vector<std::string> names(1);
    std::size_t i = 0;
    while (i < notation.size()) {
        char c = notation[i];
        if (c == '"') {
            auto end = notation.find('"', i + 1);
            names.back() += notation.substr(i + 1, end - i - 1);
            i = end + 1;
        } else if (notation.substr(i, 2) == "U+") {
            std::size_t j = i + 2;
            while (j < notation.size() && std::isxdigit(static_cast<unsigned char>(notation[j]))) ++j;
            names.back() += utf8(char32_t(std::stoul(std::string(notation.substr(i + 2, j - i - 2)), nullptr, 16)));
            i = j;
        } else if (c == ',') {
            names.emplace_back();
            ++i;
        } else {
            ++i;  // blank between tokens
        }
    }
    return names;
}

std::string hex(std::string_view bytes) {
    std::string out;
    char buf[4];
    for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        out += buf;
    }
    return out;
}

std::string upper(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TEST(Key, TableCoversEveryCaseWithItsCodeDescriptionAndNames) {
    ASSERT_EQ(std::size(kRows), Key::caseCount);
    ASSERT_EQ(Key::allCases().size(), Key::caseCount);
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        const Row& row = kRows[i];
        Key key(row.value);
        SCOPED_TRACE(std::string(key.caseName()));
        EXPECT_EQ(Key::allCases()[i], key) << "declaration order";
        EXPECT_EQ(key.carbonKeyCode(), row.code);
        EXPECT_EQ(Key::fromCarbonKeyCode(row.code), key);

        auto description = decode(row.description);
        ASSERT_EQ(description.size(), 1u);
        EXPECT_EQ(key.description(), description[0])
            << hex(key.description()) << "vs " << hex(description[0]);

        auto names = decode(row.names);
        ASSERT_EQ(key.names().size(), names.size());
        for (std::size_t n = 0; n < names.size(); ++n) {
            EXPECT_EQ(key.names()[n], names[n]) << hex(key.names()[n]) << "vs " << hex(names[n]);
            EXPECT_EQ(Key::fromString(names[n]), key) << "name " << names[n];
            // ASCII letters in any case name the same key (also inside "\uF860F1").
            EXPECT_EQ(Key::fromString(upper(names[n])), key) << "upper-case " << names[n];
        }
    }
}

TEST(Key, CodesWithoutAKeyGiveNone) {
    std::set<std::uint32_t> used;
    for (const auto& row : kRows) used.insert(row.code);
    ASSERT_EQ(used.size(), Key::caseCount) << "codes are one-to-one";
    const std::set<std::uint32_t> gaps{52, 66, 68, 70, 77, 93, 94, 95, 102, 104, 108, 110, 112};
    for (std::uint32_t code = 0; code <= 126; ++code)
        EXPECT_EQ(Key::fromCarbonKeyCode(code).has_value(), !gaps.count(code)) << code;
    for (std::uint32_t code : {127u, 128u, 255u, 256u, 65535u, 0xFFFFFFFFu})
        EXPECT_EQ(Key::fromCarbonKeyCode(code), std::nullopt) << code;
    EXPECT_EQ(Key::fromCarbonKeyCode(36), Key(KeyCase::return_));
}

struct StringCase {
    std::string input;
    std::optional<KeyCase> expected;
};

class KeyFromString : public ::testing::TestWithParam<StringCase> {};

TEST_P(KeyFromString, FindsTheKeyOrNone) {
    auto result = Key::fromString(GetParam().input);
    if (GetParam().expected)
        EXPECT_EQ(result, Key(*GetParam().expected));
    else
        EXPECT_EQ(result, std::nullopt) << result->caseName();
}

INSTANTIATE_TEST_SUITE_P(
    Names, KeyFromString,
    ::testing::Values(
        StringCase{"a", KeyCase::a}, StringCase{"A", KeyCase::a}, StringCase{"RETURN", KeyCase::return_},
        StringCase{"RiGhTbRaCkEt", KeyCase::rightBracket}, StringCase{"esc", std::nullopt},
        StringCase{"", std::nullopt}, StringCase{" ", KeyCase::space}, StringCase{" a", std::nullopt},
        StringCase{"a ", std::nullopt}, StringCase{"\t", KeyCase::tab}, StringCase{"\r", KeyCase::return_},
        StringCase{"\n", std::nullopt}, StringCase{"right command", std::nullopt},
        StringCase{"RightCommand", KeyCase::rightCommand},
        // Full case mapping: the Kelvin sign lower-cases to k; no other folding happens.
        StringCase{"\u212A", KeyCase::k}, StringCase{"\uFF41", std::nullopt},
        // The return glyph without its text-presentation selector is not a name.
        StringCase{"↩", std::nullopt},
        // "?" followed by the enclosing circle, but not its precomposed look-alikes.
        StringCase{"?\u20DD", KeyCase::help}, StringCase{"?", std::nullopt},
        StringCase{"\uF860f1", KeyCase::f1}, StringCase{"F1", KeyCase::f1}, StringCase{"\uF861F1", std::nullopt},
        StringCase{"\xFF", std::nullopt}, StringCase{std::string("a\0", 2), std::nullopt}));

// Descriptions are for display; several do not lead back to their own key.
TEST(Key, DescriptionsResolveToTheMainKeyboardKeys) {
    struct Case {
        KeyCase described;
        std::optional<KeyCase> resolved;
    };
    const Case cases[] = {
        {KeyCase::keypad0, KeyCase::zero},       {KeyCase::keypad5, KeyCase::five},
        {KeyCase::keypad9, KeyCase::nine},       {KeyCase::keypadDecimal, KeyCase::period},
        {KeyCase::keypadDivide, KeyCase::slash}, {KeyCase::keypadEquals, KeyCase::equal},
        {KeyCase::keypadMinus, KeyCase::minus},  {KeyCase::rightCommand, KeyCase::command},
        {KeyCase::rightOption, KeyCase::option}, {KeyCase::rightControl, KeyCase::control},
        {KeyCase::rightShift, KeyCase::shift},   {KeyCase::keypadEnter, KeyCase::return_},
        {KeyCase::keypadPlus, std::nullopt},     {KeyCase::keypadMultiply, std::nullopt},
        {KeyCase::q, KeyCase::q},                {KeyCase::z, KeyCase::z},
    };
    for (const auto& c : cases) {
        auto result = Key::fromString(Key(c.described).description());
        if (c.resolved)
            EXPECT_EQ(result, Key(*c.resolved)) << Key(c.described).caseName();
        else
            EXPECT_EQ(result, std::nullopt) << Key(c.described).caseName();
    }
    for (Key key : Key::allCases()) {
        if (key.description().size() == 1 && std::isupper(static_cast<unsigned char>(key.description()[0]))) {
            EXPECT_EQ(Key::fromString(key.description()), key) << key.caseName();
        }
    }
}

TEST(ModifierFlags, CarbonConversionsKeepExactlyTheFourModifiers) {
    const auto ctrlOptCmd = ModifierFlags::control | ModifierFlags::option | ModifierFlags::command;
    EXPECT_EQ(ModifierFlags::fromCarbonFlags(6400), ctrlOptCmd);
    EXPECT_EQ(ModifierFlags::fromCarbonFlags(6400).description(), "⌃⌥⌘");
    EXPECT_EQ((ModifierFlags::shift | ModifierFlags::command | ModifierFlags::capsLock).carbonFlags(), 768u);
    EXPECT_EQ(ModifierFlags::fromCarbonFlags(0xFFFFFFFF),
              ModifierFlags::control | ModifierFlags::option | ModifierFlags::shift | ModifierFlags::command);
    EXPECT_EQ(ModifierFlags::fromCarbonFlags(0x1 | 0x80 | 0x400 | 0x2000), ModifierFlags());
    EXPECT_EQ(ModifierFlags(~ModifierFlags::RawValue{0}).carbonFlags(), 256u + 512u + 2048u + 4096u);
    for (std::uint32_t mask = 0; mask < 0x2000; mask += 0x100)
        EXPECT_EQ(ModifierFlags::fromCarbonFlags(mask).carbonFlags(), mask & 0x1B00u) << mask;
}

TEST(ModifierFlags, DescriptionUsesAFixedOrderAndIgnoresOtherFlags) {
    EXPECT_EQ(ModifierFlags().description(), "");
    EXPECT_EQ((ModifierFlags::function | ModifierFlags::capsLock | ModifierFlags::numericPad).description(), "");
    EXPECT_EQ((ModifierFlags::command | ModifierFlags::shift | ModifierFlags::option | ModifierFlags::control)
                  .description(),
              "⌃⌥⇧⌘");
    EXPECT_EQ((ModifierFlags::command | ModifierFlags::shift).description(), "⇧⌘");
    EXPECT_EQ(ModifierFlags::option.rawValue(), 0x80000u);
    EXPECT_EQ(ModifierFlags::function.rawValue(), 0x800000u);
}
