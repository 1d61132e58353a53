#include "hotkey/Key.h"

#include <array>
#include <string>
#include <unordered_map>
#include <utility>

#include "text/Text.h"

namespace quillant::hotkey {

namespace {

struct Entry {
    KeyCase value;
    std::uint32_t code;
    std::string_view caseName;
    std::string_view description;
    std::array<std::string_view, 5> names;  // unused slots are empty

    constexpr std::size_t nameCount() const {
        std::size_t n = 0;
        while (n < names.size() && !names[n].empty()) ++n;
        return n;
    }
};

// Characters that are invisible or easily confused are written as escapes:
// U+F860/U+F861 mark the function-key labels, U+FE0E asks for the text
// presentation, U+20DD is the combining enclosing circle, U+F8FF is the
// private-use command glyph, and the rest are look-alikes of ASCII signs.
constexpr std::array<Entry, Key::caseCount> kTable{{
    {KeyCase::a, 0, "a", "A", {"a"}},
    {KeyCase::b, 11, "b", "B", {"b"}},
    {KeyCase::c, 8, "c", "C", {"c"}},
    {KeyCase::d, 2, "d", "D", {"d"}},
    {KeyCase::e, 14, "e", "E", {"e"}},
    {KeyCase::f, 3, "f", "F", {"f"}},
    {KeyCase::g, 5, "g", "G", {"g"}},
    {KeyCase::h, 4, "h", "H", {"h"}},
    {KeyCase::i, 34, "i", "I", {"i"}},
    {KeyCase::j, 38, "j", "J", {"j"}},
    {KeyCase::k, 40, "k", "K", {"k"}},
    {KeyCase::l, 37, "l", "L", {"l"}},
    {KeyCase::m, 46, "m", "M", {"m"}},
    {KeyCase::n, 45, "n", "N", {"n"}},
    {KeyCase::o, 31, "o", "O", {"o"}},
    {KeyCase::p, 35, "p", "P", {"p"}},
    {KeyCase::q, 12, "q", "Q", {"q"}},
    {KeyCase::r, 15, "r", "R", {"r"}},
    {KeyCase::s, 1, "s", "S", {"s"}},
    {KeyCase::t, 17, "t", "T", {"t"}},
    {KeyCase::u, 32, "u", "U", {"u"}},
    {KeyCase::v, 9, "v", "V", {"v"}},
    {KeyCase::w, 13, "w", "W", {"w"}},
    {KeyCase::x, 7, "x", "X", {"x"}},
    {KeyCase::y, 16, "y", "Y", {"y"}},
    {KeyCase::z, 6, "z", "Z", {"z"}},
    {KeyCase::zero, 29, "zero", "0", {"zero", "0"}},
    {KeyCase::one, 18, "one", "1", {"one", "1"}},
    {KeyCase::two, 19, "two", "2", {"two", "2"}},
    {KeyCase::three, 20, "three", "3", {"three", "3"}},
    {KeyCase::four, 21, "four", "4", {"four", "4"}},
    {KeyCase::five, 23, "five", "5", {"five", "5"}},
    {KeyCase::six, 22, "six", "6", {"six", "6"}},
    {KeyCase::seven, 26, "seven", "7", {"seven", "7"}},
    {KeyCase::eight, 28, "eight", "8", {"eight", "8"}},
    {KeyCase::nine, 25, "nine", "9", {"nine", "9"}},
    {KeyCase::period, 47, "period", ".", {"period", "."}},
    {KeyCase::quote, 39, "quote", "\"", {"quote", "\""}},
    {KeyCase::rightBracket, 30, "rightBracket", "]", {"rightBracket", "]"}},
    {KeyCase::semicolon, 41, "semicolon", ";", {"semicolon", ";"}},
    {KeyCase::slash, 44, "slash", "/", {"slash", "/"}},
    {KeyCase::backslash, 42, "backslash", "\\", {"backslash", "\\"}},
    {KeyCase::comma, 43, "comma", ",", {"comma", ","}},
    {KeyCase::equal, 24, "equal", "=", {"equal", "="}},
    {KeyCase::grave, 50, "grave", "`", {"grave", "`", "\u02CB", "\uFF40"}},
    {KeyCase::leftBracket, 33, "leftBracket", "[", {"leftBracket", "["}},
    {KeyCase::minus, 27, "minus", "-", {"minus", "-"}},
    {KeyCase::section, 10, "section", "§", {"section", "§"}},
    {KeyCase::space, 49, "space", "␣", {"space", " ", "␣"}},
    {KeyCase::tab, 48, "tab", "⇥", {"tab", "\t", "⇥"}},
    {KeyCase::return_, 36, "return", "↩" "\uFE0E", {"return", "\r", "↩" "\uFE0E", "⏎", "⮐"}},
    {KeyCase::command, 55, "command", "⌘", {"command", "⌘", "\uF8FF"}},
    {KeyCase::rightCommand, 54, "rightCommand", "⌘", {"rightcommand"}},
    {KeyCase::option, 58, "option", "⌥", {"option", "⌥"}},
    {KeyCase::rightOption, 61, "rightOption", "⌥", {"rightoption"}},
    {KeyCase::control, 59, "control", "⌃", {"control", "⌃"}},
    {KeyCase::rightControl, 62, "rightControl", "⌃", {"rightcontrol"}},
    {KeyCase::shift, 56, "shift", "⇧", {"shift", "⇧"}},
    {KeyCase::rightShift, 60, "rightShift", "⇧", {"rightshift"}},
    {KeyCase::function, 63, "function", "fn", {"function", "fn"}},
    {KeyCase::capsLock, 57, "capsLock", "⇪", {"capslock", "⇪"}},
    {KeyCase::pageUp, 116, "pageUp", "⇞", {"pageup", "⇞"}},
    {KeyCase::pageDown, 121, "pageDown", "⇟", {"pagedown", "⇟"}},
    {KeyCase::home, 115, "home", "↖", {"home", "↖"}},
    {KeyCase::end, 119, "end", "↘", {"end", "↘"}},
    {KeyCase::upArrow, 126, "upArrow", "↑", {"uparrow", "↑"}},
    {KeyCase::rightArrow, 124, "rightArrow", "→", {"rightarrow", "→"}},
    {KeyCase::downArrow, 125, "downArrow", "↓", {"downarrow", "↓"}},
    {KeyCase::leftArrow, 123, "leftArrow", "←", {"leftarrow", "←"}},
    {KeyCase::f1, 122, "f1", "\uF860" "F1", {"f1", "\uF860" "F1"}},
    {KeyCase::f2, 120, "f2", "\uF860" "F2", {"f2", "\uF860" "F2"}},
    {KeyCase::f3, 99, "f3", "\uF860" "F3", {"f3", "\uF860" "F3"}},
    {KeyCase::f4, 118, "f4", "\uF860" "F4", {"f4", "\uF860" "F4"}},
    {KeyCase::f5, 96, "f5", "\uF860" "F5", {"f5", "\uF860" "F5"}},
    {KeyCase::f6, 97, "f6", "\uF860" "F6", {"f6", "\uF860" "F6"}},
    {KeyCase::f7, 98, "f7", "\uF860" "F7", {"f7", "\uF860" "F7"}},
    {KeyCase::f8, 100, "f8", "\uF860" "F8", {"f8", "\uF860" "F8"}},
    {KeyCase::f9, 101, "f9", "\uF860" "F9", {"f9", "\uF860" "F9"}},
    {KeyCase::f10, 109, "f10", "\uF861" "F10", {"f10", "\uF861" "F10"}},
    {KeyCase::f11, 103, "f11", "\uF861" "F11", {"f11", "\uF861" "F11"}},
    {KeyCase::f12, 111, "f12", "\uF861" "F12", {"f12", "\uF861" "F12"}},
    {KeyCase::f13, 105, "f13", "\uF861" "F13", {"f13", "\uF861" "F13"}},
    {KeyCase::f14, 107, "f14", "\uF861" "F14", {"f14", "\uF861" "F14"}},
    {KeyCase::f15, 113, "f15", "\uF861" "F15", {"f15", "\uF861" "F15"}},
    {KeyCase::f16, 106, "f16", "\uF861" "F16", {"f16", "\uF861" "F16"}},
    {KeyCase::f17, 64, "f17", "\uF861" "F17", {"f17", "\uF861" "F17"}},
    {KeyCase::f18, 79, "f18", "\uF861" "F18", {"f18", "\uF861" "F18"}},
    {KeyCase::f19, 80, "f19", "\uF861" "F19", {"f19", "\uF861" "F19"}},
    {KeyCase::f20, 90, "f20", "\uF861" "F20", {"f20", "\uF861" "F20"}},
    {KeyCase::keypad0, 82, "keypad0", "0", {"keypad0"}},
    {KeyCase::keypad1, 83, "keypad1", "1", {"keypad1"}},
    {KeyCase::keypad2, 84, "keypad2", "2", {"keypad2"}},
    {KeyCase::keypad3, 85, "keypad3", "3", {"keypad3"}},
    {KeyCase::keypad4, 86, "keypad4", "4", {"keypad4"}},
    {KeyCase::keypad5, 87, "keypad5", "5", {"keypad5"}},
    {KeyCase::keypad6, 88, "keypad6", "6", {"keypad6"}},
    {KeyCase::keypad7, 89, "keypad7", "7", {"keypad7"}},
    {KeyCase::keypad8, 91, "keypad8", "8", {"keypad8"}},
    {KeyCase::keypad9, 92, "keypad9", "9", {"keypad9"}},
    {KeyCase::keypadClear, 71, "keypadClear", "⌧", {"keypadclear", "⌧"}},
    {KeyCase::keypadDecimal, 65, "keypadDecimal", ".", {"keypaddecimal"}},
    {KeyCase::keypadDivide, 75, "keypadDivide", "/", {"keypaddivide"}},
    {KeyCase::keypadEnter, 76, "keypadEnter", "↩" "\uFE0E", {"keypadenter"}},
    {KeyCase::keypadEquals, 81, "keypadEquals", "=", {"keypadequals"}},
    {KeyCase::keypadMinus, 78, "keypadMinus", "-", {"keypadminus"}},
    {KeyCase::keypadMultiply, 67, "keypadMultiply", "\U0001D5D1", {"keypadmultiply"}},
    {KeyCase::keypadPlus, 69, "keypadPlus", "+", {"keypadplus"}},
    {KeyCase::escape, 53, "escape", "⎋", {"escape", "⎋"}},
    {KeyCase::delete_, 51, "delete", "⌫", {"delete", "⌫"}},
    {KeyCase::forwardDelete, 117, "forwardDelete", "⌦", {"forwarddelete", "⌦"}},
    {KeyCase::help, 114, "help", "?" "\u20DD", {"help", "?" "\u20DD"}},
    {KeyCase::volumeUp, 72, "volumeUp", "🔊", {"volumeup", "🔊"}},
    {KeyCase::volumeDown, 73, "volumeDown", "🔉", {"volumedown", "🔉"}},
    {KeyCase::mute, 74, "mute", "🔇", {"mute", "🔇"}},
}};

constexpr bool tableIsInCaseOrder() {
    for (std::size_t i = 0; i < kTable.size(); ++i)
        if (static_cast<std::size_t>(kTable[i].value) != i) return false;
    return true;
}
static_assert(tableIsInCaseOrder());

constexpr std::uint32_t kNoKey = 0xFF;
constexpr std::uint32_t kHighestCode = 126;

constexpr bool codesAreOneToOne() {
    std::array<bool, kHighestCode + 1> seen{};
    for (const auto& e : kTable) {
        if (e.code > kHighestCode || seen[e.code]) return false;
        seen[e.code] = true;
    }
    return true;
}
static_assert(codesAreOneToOne());

constexpr std::array<std::uint8_t, kHighestCode + 1> makeCodeIndex() {
    std::array<std::uint8_t, kHighestCode + 1> index{};
    for (auto& slot : index) slot = kNoKey;
    for (std::size_t i = 0; i < kTable.size(); ++i) index[kTable[i].code] = static_cast<std::uint8_t>(i);
    return index;
}
constexpr auto kCodeIndex = makeCodeIndex();

template <std::size_t... I>
constexpr std::array<Key, sizeof...(I)> makeAllCases(std::index_sequence<I...>) {
    return {{Key(static_cast<KeyCase>(I))...}};
}
constexpr auto kAllCases = makeAllCases(std::make_index_sequence<Key::caseCount>{});

const Entry& entry(KeyCase value) { return kTable[static_cast<std::size_t>(value)]; }

// Lower-cased name -> key, built once; immutable afterwards.
const std::unordered_map<std::string, KeyCase>& nameIndex() {
    static const auto index = [] {
        std::unordered_map<std::string, KeyCase> map;
        for (const auto& e : kTable)
            for (std::size_t i = 0; i < e.nameCount(); ++i) map.emplace(text::lowercased(e.names[i]), e.value);
        return map;
    }();
    return index;
}

}  // namespace

std::optional<Key> Key::fromCarbonKeyCode(std::uint32_t code) noexcept {
    if (code > kHighestCode || kCodeIndex[code] == kNoKey) return std::nullopt;
    return Key(kTable[kCodeIndex[code]].value);
}

std::optional<Key> Key::fromString(std::string_view name) {
    const auto& index = nameIndex();
    auto found = index.find(text::lowercased(name));
    if (found == index.end()) return std::nullopt;
    return Key(found->second);
}

std::span<const Key> Key::allCases() noexcept { return kAllCases; }

std::uint32_t Key::carbonKeyCode() const noexcept { return entry(value_).code; }

std::string_view Key::description() const noexcept { return entry(value_).description; }

std::span<const std::string_view> Key::names() const noexcept {
    const auto& e = entry(value_);
    return std::span<const std::string_view>(e.names.data(), e.nameCount());
}

std::string_view Key::caseName() const noexcept { return entry(value_).caseName; }

}  // namespace quillant::hotkey
