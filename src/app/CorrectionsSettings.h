#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "hotkey/DefaultsStore.h"

namespace quillant::app {

// Where corrections come from, as the panel and `quillant corrector set` keep
// it under "corrections" in the settings; quillant-service reads the same
// entry before each fix.
struct CorrectionsSettings {
    std::string source = "offline";  // "offline", "local-model" or "hosted-model"
    std::string language = "auto";   // "auto" or an installed dictionary, e.g. "en_GB"
    std::string modelURL = "http://127.0.0.1:11434/v1";
    std::string modelName;
    double timeoutSeconds = 8;
    bool operator==(const CorrectionsSettings&) const = default;
};

inline constexpr const char* kCorrectionsKey = "corrections";
inline constexpr const char* kProviderKeyFile = "provider-key";
inline constexpr const char* kLocalModelSource = "local-model";
inline constexpr const char* kHostedModelSource = "hosted-model";

// What is stored; entries that do not fit keep their defaults.
CorrectionsSettings loadCorrections(hotkey::DefaultsStore& store);
// Why these settings cannot be saved (plain http off this computer, a hosted
// model without https, no model name, …); empty when they can.
std::string correctionsProblem(const CorrectionsSettings& settings);
void saveCorrections(hotkey::DefaultsStore& store, const CorrectionsSettings& settings);

// One line for the panel and `quillant corrector show`.
std::string describeCorrections(const CorrectionsSettings& settings);

// Keeps the provider's key in `configDir`/provider-key, 0600, replaced
// atomically. Returns the reason on failure, empty on success.
std::string saveProviderKey(const std::filesystem::path& configDir, const std::string& key);
bool hasProviderKey(const std::filesystem::path& configDir);

// The Hunspell dictionaries installed in the usual folders, sorted.
std::vector<std::string> installedDictionaries();

}  // namespace quillant::app
