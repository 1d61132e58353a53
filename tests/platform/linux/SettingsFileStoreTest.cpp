#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hotkey/Preferences.h"
#include "platform/linux/SettingsFileStore.h"
#include "testsupport/RecordingLogger.h"
#include "testsupport/TempDir.h"

using namespace quillant;
using namespace quillant::hotkey;
using linux_platform::SettingsFileStore;
namespace fs = std::filesystem;

namespace {

const std::string kKey = "hotkey.binding.v1";

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::vector<std::string> listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh home directory for each test, with HOME and XDG_CONFIG_HOME pointing into it.
class SettingsFileStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = tmp.path();
        saveEnv("HOME", savedHome);
        saveEnv("XDG_CONFIG_HOME", savedXdg);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        auto dir = linux_platform::defaultConfigDirectory();
        ASSERT_TRUE(dir);
        configDir = *dir;
        settings = configDir / "settings.json";
    }
    void TearDown() override {
        restoreEnv("HOME", savedHome);
        restoreEnv("XDG_CONFIG_HOME", savedXdg);
    }
    static void saveEnv(const char* name, std::optional<std::string>& slot) {
        if (const char* value = std::getenv(name)) slot = value;
    }
    static void restoreEnv(const char* name, const std::optional<std::string>& slot) {
        if (slot)
            ::setenv(name, slot->c_str(), 1);
        else
            ::unsetenv(name);
    }

    quillant::testing::TempDir tmp;
    fs::path home, configDir, settings;
    std::optional<std::string> savedHome, savedXdg;
    quillant::testing::RecordingLogger log;
};

const KeyCombo kCtrlOptCmdK(40, 6400);

}  // namespace

TEST(ConfigDirectory, FollowsXdgThenHome) {
    EXPECT_EQ(linux_platform::configDirectoryFor("/x/cfg", "/home/u"), fs::path("/x/cfg/quillant"));
    EXPECT_EQ(linux_platform::configDirectoryFor(nullptr, "/home/u"), fs::path("/home/u/.config/quillant"));
    EXPECT_EQ(linux_platform::configDirectoryFor("", "/home/u"), fs::path("/home/u/.config/quillant"));
    EXPECT_EQ(linux_platform::configDirectoryFor("relative/cfg", "/home/u"), fs::path("/home/u/.config/quillant"));
    EXPECT_EQ(linux_platform::configDirectoryFor(nullptr, ""), std::nullopt);
    EXPECT_EQ(linux_platform::configDirectoryFor(nullptr, nullptr), std::nullopt);
}

TEST_F(SettingsFileStoreTest, SavedHotkeySurvivesANewProgramRun) {
    {
        SettingsFileStore store(configDir, log);
        Preferences prefs(store);
        EXPECT_EQ(prefs.hotkeyCombo.get(), KeyCombo(5, 2560));
        EXPECT_FALSE(fs::exists(configDir)) << "reading creates nothing";
        prefs.setHotkey(kCtrlOptCmdK);
    }
    SettingsFileStore store(configDir, log);
    Preferences prefs(store);
    EXPECT_EQ(prefs.hotkeyCombo.get(), kCtrlOptCmdK);
    EXPECT_EQ(prefs.hotkeyDisplay(), "⌃⌥⌘K");

    // Human-readable, one entry per line; no temporary files left behind.
    EXPECT_EQ(readFile(settings),
              "{\n  \"hotkey.binding.v1\": {\n    \"keyCode\": 40,\n    \"modifiers\": 6400\n  }\n}\n");
    EXPECT_EQ(listing(configDir), std::vector<std::string>{"settings.json"});
    struct stat info {};
    ASSERT_EQ(::stat(configDir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(log.records().empty());
}

TEST_F(SettingsFileStoreTest, MalformedFilesReadAsEmptyAndStayUntouched) {
    const std::string cases[] = {
        "",
        "{\"hotkey.binding.v1\": {\"keyCode\": 40, \"modifiers\": 6400}",  // truncated
        "[1, 2]",
        "null",
        "{\"hotkey.binding.v1\": \"\xFF\"}",  // not UTF-8
        std::string("{\"a\": 1}\0garbage", 17),
    };
    fs::create_directories(configDir);
    for (const auto& bytes : cases) {
        SCOPED_TRACE(bytes);
        writeFile(settings, bytes);
        log.clear();
        SettingsFileStore store(configDir, log);
        Preferences prefs(store);
        EXPECT_EQ(prefs.hotkeyCombo.get(), Preferences::defaultHotkey());
        EXPECT_EQ(readFile(settings), bytes) << "never rewritten by reading";
        ASSERT_EQ(log.records().size(), 1u);
        EXPECT_EQ(log.records()[0].level, LogLevel::error);
        EXPECT_TRUE(log.contains("using defaults"));
    }

    // The next save replaces the unusable file with a valid one.
    SettingsFileStore store(configDir, log);
    Preferences prefs(store);
    prefs.setHotkey(kCtrlOptCmdK);
    EXPECT_EQ(Preferences(store).hotkeyCombo.get(), kCtrlOptCmdK);
}

TEST_F(SettingsFileStoreTest, EntriesOfTheWrongShapeGiveTheDefault) {
    const std::string cases[] = {
        R"({"hotkey.binding.v1": "⌃⌥⌘K"})",
        R"({"hotkey.binding.v1": {"keyCode": 40}})",
        R"({"hotkey.binding.v1": {"keyCode": 40, "modifiers": "6400"}})",
        R"({"hotkey.binding.v1": {"keyCode": 40, "modifiers": 6400.5}})",
        R"({"hotkey.binding.v1": {"keyCode": 40, "modifiers": [6400]}})",
        R"({"hotkey.binding.v1": {"keyCode": 40, "modifiers": 4294967296}})",
        R"({"hotkey.binding.v1": {"keyCode": 40, "modifiers": 18446744073709551615}})",
        R"({"hotkey.binding.v1": {"keyCode": -40, "modifiers": 6400}})",
        R"({"other": {"keyCode": 40, "modifiers": 6400}})",
    };
    fs::create_directories(configDir);
    for (const auto& text : cases) {
        writeFile(settings, text);
        SettingsFileStore store(configDir, log);
        EXPECT_EQ(Preferences(store).hotkeyCombo.get(), Preferences::defaultHotkey()) << text;
        EXPECT_EQ(readFile(settings), text);
    }
    EXPECT_TRUE(log.records().empty()) << "a well-formed file is not an error";
}

TEST_F(SettingsFileStoreTest, ValuesOfEveryKindRoundTripAndOtherEntriesAreKept) {
    fs::create_directories(configDir);
    writeFile(settings, R"({"window": {"x": 10}, "theme": "dark"})");
    SettingsFileStore store(configDir, log);
    DefaultsDictionary value{{"int", std::int64_t{-5}}, {"big", std::int64_t{1} << 40}, {"real", 0.25},
                             {"flag", true}, {"text", std::string("⌥ \"quoted\"")}};
    store.setObject(value, "mixed");
    EXPECT_EQ(store.dictionaryForKey("mixed"), value);
    EXPECT_EQ(store.dictionaryForKey("window"), (DefaultsDictionary{{"x", std::int64_t{10}}}));
    EXPECT_EQ(store.dictionaryForKey("theme"), std::nullopt);
    EXPECT_NE(readFile(settings).find("\"theme\": \"dark\""), std::string::npos);
}

TEST_F(SettingsFileStoreTest, ASymlinkedSettingsFileStaysALink) {
    fs::create_directories(configDir);
    fs::path dotfiles = home / "dotfiles";
    fs::create_directories(dotfiles);
    writeFile(dotfiles / "settings.json", "{}");
    fs::create_symlink(dotfiles / "settings.json", settings);

    SettingsFileStore store(configDir, log);
    Preferences(store).setHotkey(kCtrlOptCmdK);
    EXPECT_TRUE(fs::is_symlink(settings));
    EXPECT_EQ(Preferences(store).hotkeyCombo.get(), kCtrlOptCmdK);
    EXPECT_EQ(listing(dotfiles), std::vector<std::string>{"settings.json"});
}

TEST_F(SettingsFileStoreTest, AFailedWriteIsLoggedAndNotFatal) {
    // A directory where the file should be: unreadable and impossible to replace.
    fs::create_directories(settings);
    SettingsFileStore store(configDir, log);
    Preferences prefs(store);
    EXPECT_EQ(prefs.hotkeyCombo.get(), Preferences::defaultHotkey());
    log.clear();

    prefs.setHotkey(kCtrlOptCmdK);
    EXPECT_EQ(prefs.hotkeyCombo.get(), kCtrlOptCmdK) << "the choice holds for this run";
    EXPECT_TRUE(log.contains("could not save settings to " + settings.string()));
    EXPECT_EQ(listing(configDir), std::vector<std::string>{"settings.json"}) << "no temporary file left";

    // A regular file where the directory should be.
    fs::path blocked = home / "blocked";
    writeFile(blocked, "");
    SettingsFileStore orphan(blocked / "quillant", log);
    log.clear();
    orphan.setObject(kCtrlOptCmdK.dictionary(), kKey);
    EXPECT_TRUE(log.contains("could not save settings"));
    EXPECT_EQ(orphan.dictionaryForKey(kKey), std::nullopt);
}
