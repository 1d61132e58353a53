#pragma once

#include <string>
#include <string_view>

#include "hotkey/DefaultsStore.h"
#include "hotkey/KeyCombo.h"
#include "hotkey/ShortcutStyle.h"
#include "runtime/Observable.h"

namespace quillant::hotkey {

// The user's hotkey: kept in memory as an observable value, written to the
// settings store on every change. The program's entry creates the one
// instance and hands it to whoever needs it. Main thread only.
class Preferences final : public ObservableObject {
public:
    static constexpr std::string_view hotkeyKey = "hotkey.binding.v1";

    // ⌥⇧G: used whenever nothing usable is stored.
    static constexpr KeyCombo defaultHotkey() noexcept { return KeyCombo(5, carbon::optionKey | carbon::shiftKey); }

    // Reads the stored hotkey once; later changes made to the store by others are not seen.
    // `style` is how the hotkey is written wherever it is shown.
    explicit Preferences(DefaultsStore& defaults, ShortcutStyle style = ShortcutStyle::macGlyphs);
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

private:
    DefaultsStore& defaults_;
    ShortcutStyle style_;
    Published<KeyCombo> hotkeyCombo_;

public:
    // The current hotkey; observers hear before it changes. Changed only by setHotkey.
    const Published<KeyCombo>& hotkeyCombo{hotkeyCombo_};

    // The hotkey as display text, e.g. "⌥⇧G" or "Alt+Shift+G"; "?" stands for a
    // key code without a key.
    std::string hotkeyDisplay() const;
    ShortcutStyle style() const { return style_; }

    // Makes `combo` the hotkey and stores it.
    void setHotkey(KeyCombo combo);
};

}  // namespace quillant::hotkey
