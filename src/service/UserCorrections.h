#pragma once

#include "runtime/Logger.h"

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillant::service {

// Where the user wants corrections from: the "corrections" object of their
// settings.json, written by the panel and `quillant corrector set`:
//   {"source": "offline"|"local-model"|"hosted-model", "language": "auto"|"en_GB"|…,
//    "modelURL": "…", "modelName": "…", "timeoutSeconds": 8}
// (flat, as the settings store keeps one level of values under a key).
enum class CorrectionSource { offline, localModel, hostedModel };

inline constexpr std::string_view kDefaultLocalModelURL = "http://127.0.0.1:11434/v1";
inline constexpr std::string_view kProviderKeyFile = "provider-key";

struct CorrectionsChoice {
    CorrectionSource source = CorrectionSource::offline;
    std::string language = "auto";
    std::string modelURL{kDefaultLocalModelURL};
    std::string modelName;
    std::chrono::milliseconds timeout{8000};
    bool operator==(const CorrectionsChoice&) const = default;
};

struct ParsedCorrections {
    CorrectionsChoice choice;
    std::vector<std::string> ignored;  // one line for each entry the defaults replaced
};

// Reads settings.json's text; anything that does not fit leaves the default
// in place and is named in `ignored` (with its line when the file is not JSON).
ParsedCorrections parseCorrections(std::string_view settingsJson);

std::string_view sourceName(CorrectionSource source);

// Why a base URL cannot serve a source: a model on this computer is reached
// over plain http on loopback (or https), a hosted one over https only, so a
// provider key never travels in the clear. Empty when it can.
std::string modelURLProblem(CorrectionSource source, std::string_view url);

// The provider key in its file, refused when the file is not a regular file
// of this user's, readable by nobody else.
struct ProviderKey {
    std::string key;      // empty when absent or refused
    std::string problem;  // why it was refused; empty when absent or fine
};
ProviderKey readProviderKey(const std::filesystem::path& file);

// The user's choice and key as of now: the files are read again only when
// their size, modification or status-change time changed, so a change applies to the next
// fix. Safe to call from several threads.
class UserCorrections {
public:
    struct Snapshot {
        CorrectionsChoice choice;
        ProviderKey key;
    };

    UserCorrections(std::filesystem::path configDir, Logger& log);
    Snapshot current();
    const std::filesystem::path& directory() const { return dir_; }

private:
    struct Stamp {
        bool exists = false;
        long long size = 0, inode = 0, mtime = 0, ctime = 0;  // ctime: a chmod counts as a change
        bool operator==(const Stamp&) const = default;
    };
    static Stamp stampOf(const std::filesystem::path& file);

    std::filesystem::path dir_;
    CategoryLogger log_;
    std::mutex mutex_;
    std::optional<Stamp> settingsStamp_, keyStamp_;
    Snapshot snapshot_;
};

}  // namespace quillant::service
