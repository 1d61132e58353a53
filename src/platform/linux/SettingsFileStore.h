#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "hotkey/DefaultsStore.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// The settings directory: $XDG_CONFIG_HOME/quillant when that is an absolute
// path, else HOME/.config/quillant; none when neither is known.
std::optional<std::filesystem::path> configDirectoryFor(const char* xdgConfigHome, const char* home);
// The same from this process's environment, with the password entry's home as
// the last resort.
std::optional<std::filesystem::path> defaultConfigDirectory();

// The user's settings as a human-readable JSON object in
// <directory>/settings.json. The file is read on every query, so edits made
// while the program runs are seen, and replaced atomically on every write;
// other top-level entries are kept. A missing, unreadable or malformed file
// reads as empty and is left as it is until the next write. Main thread only.
class SettingsFileStore final : public hotkey::DefaultsStore {
public:
    static constexpr std::string_view fileName = "settings.json";

    SettingsFileStore(std::filesystem::path directory, Logger& logger);

    std::optional<hotkey::DefaultsDictionary> dictionaryForKey(const std::string& key) override;
    // A failed write is logged and otherwise ignored; the file is then unchanged.
    void setObject(const hotkey::DefaultsDictionary& value, const std::string& key) override;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path directory_;
    std::filesystem::path path_;
    CategoryLogger log_;
};

}  // namespace quillant::linux_platform
