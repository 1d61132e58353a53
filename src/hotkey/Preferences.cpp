#include "hotkey/Preferences.h"

namespace quillant::hotkey {

namespace {
KeyCombo storedOrDefault(DefaultsStore& defaults) {
    if (auto stored = defaults.dictionaryForKey(std::string(Preferences::hotkeyKey)))
        if (auto combo = KeyCombo::fromDictionary(*stored)) return *combo;
    return Preferences::defaultHotkey();
}
}  // namespace

Preferences::Preferences(DefaultsStore& defaults, ShortcutStyle style)
    : defaults_(defaults), style_(style), hotkeyCombo_(*this, storedOrDefault(defaults)) {}

std::string Preferences::hotkeyDisplay() const { return describeCombo(hotkeyCombo_, style_, "?"); }

void Preferences::setHotkey(KeyCombo combo) {
    hotkeyCombo_ = combo;
    defaults_.setObject(combo.dictionary(), std::string(hotkeyKey));
}

}  // namespace quillant::hotkey
