#include "hotkey/ShortcutStyle.h"

#include "hotkey/HotkeyRecorder.h"

namespace quillant::hotkey {

namespace {

struct Word {
    KeyCase key;
    std::string_view text;
};

// Keys whose cap carries a word, or whose macOS glyph means nothing on Linux.
constexpr Word kLinuxWords[] = {
    {KeyCase::quote, "'"},
    {KeyCase::space, "Space"},
    {KeyCase::tab, "Tab"},
    {KeyCase::return_, "Return"},
    {KeyCase::command, "Super"},
    {KeyCase::rightCommand, "Super"},
    {KeyCase::option, "Alt"},
    {KeyCase::rightOption, "AltGr"},
    {KeyCase::control, "Ctrl"},
    {KeyCase::rightControl, "Ctrl"},
    {KeyCase::shift, "Shift"},
    {KeyCase::rightShift, "Shift"},
    {KeyCase::function, "Fn"},
    {KeyCase::capsLock, "Caps Lock"},
    {KeyCase::pageUp, "Page Up"},
    {KeyCase::pageDown, "Page Down"},
    {KeyCase::home, "Home"},
    {KeyCase::end, "End"},
    {KeyCase::upArrow, "Up"},
    {KeyCase::rightArrow, "Right"},
    {KeyCase::downArrow, "Down"},
    {KeyCase::leftArrow, "Left"},
    {KeyCase::keypadClear, "Clear"},
    {KeyCase::keypadDecimal, "KP ."},
    {KeyCase::keypadDivide, "KP /"},
    {KeyCase::keypadEnter, "Enter"},
    {KeyCase::keypadEquals, "KP ="},
    {KeyCase::keypadMinus, "KP -"},
    {KeyCase::keypadMultiply, "KP *"},
    {KeyCase::keypadPlus, "KP +"},
    {KeyCase::escape, "Esc"},
    {KeyCase::delete_, "Backspace"},
    {KeyCase::forwardDelete, "Delete"},
    {KeyCase::help, "Help"},
    {KeyCase::volumeUp, "Volume Up"},
    {KeyCase::volumeDown, "Volume Down"},
    {KeyCase::mute, "Mute"},
};

bool between(KeyCase value, KeyCase first, KeyCase last) {
    return static_cast<int>(value) >= static_cast<int>(first) && static_cast<int>(value) <= static_cast<int>(last);
}

}  // namespace

std::string describeModifiers(ModifierFlags modifiers, ShortcutStyle style) {
    if (style == ShortcutStyle::macGlyphs) return modifiers.description();
    // The order GNOME and KDE write them in.
    constexpr std::pair<ModifierFlags, std::string_view> order[] = {
        {ModifierFlags::control, "Ctrl"},
        {ModifierFlags::option, "Alt"},
        {ModifierFlags::shift, "Shift"},
        {ModifierFlags::command, "Super"},
    };
    std::string text;
    for (const auto& [flag, word] : order) {
        if (!modifiers.contains(flag)) continue;
        if (!text.empty()) text += '+';
        text += word;
    }
    return text;
}

std::string describeKey(Key key, ShortcutStyle style) {
    if (style == ShortcutStyle::macGlyphs) return std::string(key.description());
    const KeyCase value = key.value();
    for (const auto& word : kLinuxWords)
        if (word.key == value) return std::string(word.text);
    if (between(value, KeyCase::f1, KeyCase::f20))
        return "F" + std::to_string(static_cast<int>(value) - static_cast<int>(KeyCase::f1) + 1);
    if (between(value, KeyCase::keypad0, KeyCase::keypad9))
        return "KP " + std::to_string(static_cast<int>(value) - static_cast<int>(KeyCase::keypad0));
    // Letters, digits and signs: the character on the key cap.
    return std::string(key.description());
}

std::string describeCombo(const KeyCombo& combo, ShortcutStyle style, std::string_view unknownKey) {
    std::string text = describeModifiers(combo.modifiers(), style);
    const auto key = combo.key();
    const std::string keyText = key ? describeKey(*key, style) : std::string(unknownKey);
    if (style == ShortcutStyle::linuxWords && !text.empty() && !keyText.empty()) text += '+';
    return text + keyText;
}

std::string modifierRequiredMessage(ShortcutStyle style) {
    if (style == ShortcutStyle::macGlyphs) return std::string(HotkeyRecorder::modifierRequiredMessage);
    return "Add Ctrl, Alt or Super — Shift alone isn't enough.";
}

}  // namespace quillant::hotkey
