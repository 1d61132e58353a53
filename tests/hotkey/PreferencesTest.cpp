#include <gtest/gtest.h>

#include "hotkey/Preferences.h"
#include "testsupport/FakeDefaultsStore.h"

using namespace quillant::hotkey;
using quillant::testing::FakeDefaultsStore;

namespace {
const std::string kKey = "hotkey.binding.v1";
const KeyCombo kCtrlOptCmdK(Key(KeyCase::k), ModifierFlags::control | ModifierFlags::option | ModifierFlags::command);
}  // namespace

TEST(Preferences, EmptyStoreGivesTheDefaultWithoutWritingIt) {
    FakeDefaultsStore store;
    Preferences prefs(store);
    EXPECT_EQ(prefs.hotkeyCombo.get(), KeyCombo(5, 2560));
    EXPECT_EQ(prefs.hotkeyDisplay(), "⌥⇧G");
    EXPECT_EQ(store.writes, 0);
    EXPECT_TRUE(store.entries.empty());
}

TEST(Preferences, SavedHotkeySurvivesANewInstance) {
    FakeDefaultsStore store;
    {
        Preferences prefs(store);
        prefs.setHotkey(kCtrlOptCmdK);
        EXPECT_EQ(prefs.hotkeyCombo.get(), kCtrlOptCmdK);
        EXPECT_EQ(prefs.hotkeyDisplay(), "⌃⌥⌘K");
    }
    ASSERT_TRUE(store.entries.count(kKey));
    EXPECT_EQ(std::get<DefaultsDictionary>(store.entries[kKey]),
              (DefaultsDictionary{{"keyCode", std::int64_t{40}}, {"modifiers", std::int64_t{6400}}}));
    Preferences again(store);
    EXPECT_EQ(again.hotkeyCombo.get(), kCtrlOptCmdK);
}

TEST(Preferences, UnusableEntriesGiveTheDefault) {
    const std::vector<FakeDefaultsStore::Entry> entries{
        DefaultsDictionary{{"keyCode", std::int64_t{40}}},
        DefaultsDictionary{{"keyCode", std::int64_t{40}}, {"modifiers", std::string("6400")}},
        DefaultsDictionary{{"keyCode", std::int64_t{40}}, {"modifiers", std::int64_t{-6400}}},
        DefaultsValue{std::string("⌃⌥⌘K")},
        DefaultsValue{std::int64_t{40}},
    };
    for (const auto& entry : entries) {
        FakeDefaultsStore store;
        store.entries[kKey] = entry;
        Preferences prefs(store);
        EXPECT_EQ(prefs.hotkeyCombo.get(), Preferences::defaultHotkey());
        EXPECT_EQ(store.writes, 0);
    }
}

TEST(Preferences, DisplayMarksAMissingKeyAndOmitsMissingModifiers) {
    struct Case {
        KeyCombo combo;
        std::string display;
    };
    const Case cases[] = {
        {KeyCombo(52, 256), "⌘?"},
        {KeyCombo(96, 0), "\uF860F5"},
        {KeyCombo(5, 0x1B00), "⌃⌥⇧⌘G"},
        {KeyCombo(500, 0), "?"},
    };
    for (const auto& c : cases) {
        FakeDefaultsStore store;
        store.entries[kKey] = c.combo.dictionary();
        Preferences prefs(store);
        EXPECT_EQ(prefs.hotkeyCombo.get(), c.combo) << "a code without a key still loads";
        EXPECT_EQ(prefs.hotkeyDisplay(), c.display);
    }
}

TEST(Preferences, ObserversHearBeforeTheChange) {
    FakeDefaultsStore store;
    Preferences prefs(store);
    std::vector<KeyCombo> seen;
    auto subscription = prefs.onWillChange([&] { seen.push_back(prefs.hotkeyCombo.get()); });
    prefs.setHotkey(kCtrlOptCmdK);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], Preferences::defaultHotkey());
    EXPECT_EQ(store.writes, 1);
}
