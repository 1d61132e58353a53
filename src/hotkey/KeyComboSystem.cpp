#include "hotkey/KeyComboSystem.h"

#include <cmath>
#include <limits>
#include <variant>

namespace quillant::hotkey {

namespace {

// A number (integer, real or boolean) as a 64-bit integer; text and reals that
// do not fit are not numbers here.
std::optional<std::int64_t> numberEntry(const DefaultsDictionary& dictionary, std::string_view name) {
    auto found = dictionary.find(name);
    if (found == dictionary.end()) return std::nullopt;
    const auto& value = found->second;
    if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
    if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
    if (const auto* d = std::get_if<double>(&value)) {
        // Converting a real outside the integer range is undefined; such an entry is unreadable.
        constexpr double kLimit = 9223372036854775808.0;  // 2^63
        if (!std::isfinite(*d) || *d >= kLimit || *d < -kLimit) return std::nullopt;
        return static_cast<std::int64_t>(*d);
    }
    return std::nullopt;
}

void appendKeyCombos(const Menu& menu, std::vector<KeyCombo>& out) {
    for (const auto& item : menu.items) {
        if (!item.keyEquivalent.empty())
            if (auto key = Key::fromString(item.keyEquivalent)) out.emplace_back(*key, item.keyEquivalentModifierMask);
        if (item.submenu) appendKeyCombos(*item.submenu, out);
    }
}

}  // namespace

std::optional<std::string> carbonKeyCodeToString(std::uint32_t) { return std::nullopt; }

std::vector<KeyCombo> systemKeyCombos(SymbolicHotkeySource& source) {
    std::vector<KeyCombo> combos;
    auto list = source.copySymbolicHotKeys();
    if (list.status != 0 || !list.hotkeys) return combos;
    for (const auto& entry : *list.hotkeys) {
        auto enabled = numberEntry(entry, kSymbolicHotKeyEnabled);
        if (!enabled || *enabled == 0) continue;
        auto code = numberEntry(entry, kSymbolicHotKeyCode);
        auto modifiers = numberEntry(entry, kSymbolicHotKeyModifiers);
        if (!code || !modifiers) continue;
        // Read as unsigned 32-bit, keeping the low word as the system's own conversion does.
        combos.emplace_back(static_cast<std::uint32_t>(*code), static_cast<std::uint32_t>(*modifiers));
    }
    return combos;
}

std::vector<KeyCombo> mainMenuKeyCombos(MainMenuSource& source) {
    auto menu = source.mainMenu();
    if (!menu) return {};
    return keyCombos(*menu);
}

std::vector<KeyCombo> keyCombos(const Menu& menu) {
    std::vector<KeyCombo> combos;
    appendKeyCombos(menu, combos);
    return combos;
}

std::vector<KeyCombo> standardKeyCombos() {
    using C = KeyCase;
    const auto cmd = ModifierFlags::command;
    const auto shiftCmd = ModifierFlags::shift | ModifierFlags::command;
    const auto optCmd = ModifierFlags::option | ModifierFlags::command;
    const auto ctrlCmd = ModifierFlags::control | ModifierFlags::command;
    const auto optShiftCmd = ModifierFlags::option | ModifierFlags::shift | ModifierFlags::command;
    return {
        {C::comma, cmd},          {C::h, cmd},           {C::h, optCmd},       {C::q, cmd},
        {C::n, cmd},              {C::o, cmd},           {C::w, cmd},          {C::s, cmd},
        {C::s, shiftCmd},         {C::r, cmd},           {C::p, shiftCmd},     {C::p, cmd},
        {C::z, cmd},              {C::z, shiftCmd},      {C::x, cmd},          {C::c, cmd},
        {C::v, cmd},              {C::v, optShiftCmd},   {C::a, cmd},          {C::f, cmd},
        {C::f, optCmd},           {C::g, cmd},           {C::g, shiftCmd},     {C::e, cmd},
        {C::j, cmd},              {C::semicolon, shiftCmd}, {C::semicolon, cmd}, {C::t, cmd},
        {C::b, cmd},              {C::i, cmd},           {C::u, cmd},          {C::equal, shiftCmd},
        {C::minus, cmd},          {C::c, shiftCmd},      {C::c, optCmd},       {C::v, optCmd},
        {C::leftBracket, shiftCmd}, {C::backslash, shiftCmd}, {C::rightBracket, shiftCmd}, {C::c, ctrlCmd},
        {C::v, ctrlCmd},          {C::t, optCmd},        {C::s, ctrlCmd},      {C::f, ctrlCmd},
        {C::m, cmd},              {C::slash, shiftCmd},
    };
}

}  // namespace quillant::hotkey
