#include <gtest/gtest.h>

#include "hotkey/HotkeyRecorder.h"
#include "hotkey/Preferences.h"
#include "hotkey/ShortcutStyle.h"
#include "runtime/VirtualExecutor.h"
#include "testsupport/FakeDefaultsStore.h"
#include "testsupport/FakeKeyDownMonitor.h"

using namespace quillant::hotkey;

TEST(ShortcutStyle, WritesCombinationsTheWayEachDesktopDoes) {
    struct Case {
        KeyCombo combo;
        const char* mac;
        const char* words;
    };
    const Case cases[] = {
        {KeyCombo(5, 2560), "⌥⇧G", "Alt+Shift+G"},
        {KeyCombo(40, 6144), "⌃⌥K", "Ctrl+Alt+K"},
        {KeyCombo(40, 6912), "⌃⌥⇧⌘K", "Ctrl+Alt+Shift+Super+K"},
        {KeyCombo(96, 256), "⌘\uF860F5", "Super+F5"},
        {KeyCombo(109, 4096), "⌃\uF861F10", "Ctrl+F10"},
        {KeyCombo(49, 4096), "⌃␣", "Ctrl+Space"},
        {KeyCombo(123, 2048), "⌥←", "Alt+Left"},
        {KeyCombo(116, 4096), "⌃⇞", "Ctrl+Page Up"},
        {KeyCombo(53, 256), "⌘⎋", "Super+Esc"},
        {KeyCombo(51, 4096), "⌃⌫", "Ctrl+Backspace"},
        {KeyCombo(117, 4096), "⌃⌦", "Ctrl+Delete"},
        {KeyCombo(36, 2048), "⌥↩\uFE0E", "Alt+Return"},
        {KeyCombo(83, 4096), "⌃1", "Ctrl+KP 1"},
        {KeyCombo(67, 4096), "⌃\U0001D5D1", "Ctrl+KP *"},
        {KeyCombo(39, 4096), "⌃\"", "Ctrl+'"},
        {KeyCombo(18, 0), "1", "1"},
        {KeyCombo(52, 256), "⌘", "Super"},  // a code without a key: the modifiers alone
        {KeyCombo(52, 0), "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        EXPECT_EQ(describeCombo(c.combo, ShortcutStyle::macGlyphs), c.mac);
        EXPECT_EQ(describeCombo(c.combo, ShortcutStyle::linuxWords), c.words);
        // The glyph style is the combination's own description.
        EXPECT_EQ(describeCombo(c.combo, ShortcutStyle::macGlyphs), c.combo.description());
    }
}

TEST(ShortcutStyle, EveryKeyHasALinuxNameWithoutMacGlyphs) {
    for (Key key : Key::allCases()) {
        const std::string name = describeKey(key, ShortcutStyle::linuxWords);
        SCOPED_TRACE(std::string(key.caseName()));
        EXPECT_FALSE(name.empty());
        for (const char* glyph : {"⌘", "⌥", "⌃", "⇧", "\uF860", "\uF861", "\uFE0E", "⎋", "⌫", "⇞"})
            EXPECT_EQ(name.find(glyph), std::string::npos) << name;
    }
}

TEST(ShortcutStyle, PreferencesShowTheHotkeyInTheirStyle) {
    quillant::testing::FakeDefaultsStore defaults;
    Preferences words(defaults, ShortcutStyle::linuxWords);
    EXPECT_EQ(words.hotkeyDisplay(), "Alt+Shift+G");
    words.setHotkey(KeyCombo(52, 256));
    EXPECT_EQ(words.hotkeyDisplay(), "Super+?");
    words.setHotkey(KeyCombo(52, 0));
    EXPECT_EQ(words.hotkeyDisplay(), "?");
    // The stored value is the same whatever the style.
    Preferences mac(defaults);
    EXPECT_EQ(mac.hotkeyCombo.get(), KeyCombo(52, 0));
    EXPECT_EQ(mac.hotkeyDisplay(), "?");
}

TEST(ShortcutStyle, TheRecorderRefusesInTheDesktopsWordsAndNeverTakesAKeyOutsideTheTable) {
    struct Case {
        ShortcutStyle style;
        std::uint16_t keyCode;
        ModifierFlags flags;
        std::string error;
    };
    const Case cases[] = {
        {ShortcutStyle::linuxWords, 40, ModifierFlags::shift, "Add Ctrl, Alt or Super — Shift alone isn't enough."},
        {ShortcutStyle::macGlyphs, 40, {}, std::string(HotkeyRecorder::modifierRequiredMessage)},
        // A key code no key has (e.g. a key the toolkit could not name) cannot be armed.
        {ShortcutStyle::linuxWords, 0xFFFF, ModifierFlags::control, std::string(HotkeyRecorder::unusableKeyMessage)},
        {ShortcutStyle::macGlyphs, 52, ModifierFlags::command, std::string(HotkeyRecorder::unusableKeyMessage)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error + " " + std::to_string(c.keyCode));
        quillant::VirtualExecutor executor;
        quillant::testing::FakeKeyDownMonitor monitor;
        HotkeyRecorder recorder(monitor, executor, c.style);
        int delivered = 0;
        recorder.start([&](KeyCombo) { ++delivered; });
        EXPECT_FALSE(monitor.press(c.keyCode, c.flags));
        executor.runUntilIdle();
        EXPECT_EQ(recorder.lastError.get(), c.error);
        EXPECT_TRUE(recorder.isRecording.get());
        EXPECT_EQ(delivered, 0);
        // The capture goes on: a real combination is still taken.
        monitor.press(40, ModifierFlags::control);
        executor.runUntilIdle();
        EXPECT_EQ(delivered, 1);
    }
}
