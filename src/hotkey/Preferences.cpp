#include "hotkey/Preferences.h"

namespace quillant::hotkey {

namespace {
KeyCombo storedOrDefault(DefaultsStore& defaults) {
    if (auto stored = defaults.dictionaryForKey(std::string(Preferences::hotkeyKey)))
        if (auto combo = KeyCombo::fromDictionary(*stored)) return *combo;
    return Preferences::defaultHotkey();
}
}  // namespace

Preferences::Preferences(DefaultsStore& defaults) : defaults_(defaults), hotkeyCombo_(*this, storedOrDefault(defaults)) {}

std::string Preferences::hotkeyDisplay() const {
    const KeyCombo& combo = hotkeyCombo_;
    std::string text = combo.modifiers().description();
    if (auto key = combo.key())
        text += key->description();
    else
        text += "?";
    return text;
}

void Preferences::setHotkey(KeyCombo combo) {
    hotkeyCombo_ = combo;
    defaults_.setObject(combo.dictionary(), std::string(hotkeyKey));
}

}  // namespace quillant::hotkey
