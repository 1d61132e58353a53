#pragma once

#include "service/Speller.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillant::service {

// The installed Hunspell dictionaries, each loaded on first use and kept.
// Names that are links to one file ("fr_BE" → "fr") share one Speller.
// Safe to use from several threads.
class Dictionaries {
public:
    explicit Dictionaries(SpellerPaths paths = {});

    const SpellerPaths& paths() const { return paths_; }
    // Every installed name, sorted ("de_DE", "en_GB", "fr", "fr_BE", …).
    const std::vector<std::string>& names() const { return names_; }
    bool has(const std::string& name) const;
    static bool isEnglish(const std::string& name) { return name.rfind("en", 0) == 0; }

    // The English variants, the preferred one first (en_US when installed).
    std::vector<std::string> englishNames(const std::string& preferred = {}) const;
    // One name per distinct non-English dictionary file, sorted.
    std::vector<std::string> otherLanguages() const;

    // The dictionary, loaded now if it is not yet; nullptr when not installed
    // or unreadable.
    const Speller* get(const std::string& name);
    // How many dictionaries are loaded (for tests and the log).
    std::size_t loadedCount() const;

private:
    std::filesystem::path fileOf(const std::string& name) const;
    std::filesystem::path findFile(const std::string& name) const;

    SpellerPaths paths_;
    std::vector<std::string> names_;
    std::map<std::string, std::filesystem::path> files_;  // each name's .dic, links resolved
    mutable std::mutex mutex_;
    std::map<std::filesystem::path, std::unique_ptr<Speller>> loaded_;  // by canonical .dic file
    std::map<std::string, const Speller*> byName_;
};

}  // namespace quillant::service
