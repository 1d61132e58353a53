#include "service/Dictionaries.h"

#include <algorithm>
#include <set>

namespace quillant::service {

namespace fs = std::filesystem;

Dictionaries::Dictionaries(SpellerPaths paths) : paths_(std::move(paths)), names_(Speller::installedLanguages(paths_)) {
    for (const auto& name : names_) files_[name] = findFile(name);
}

bool Dictionaries::has(const std::string& name) const {
    return std::binary_search(names_.begin(), names_.end(), name);
}

std::vector<std::string> Dictionaries::englishNames(const std::string& preferred) const {
    std::vector<std::string> out;
    std::string first = has(preferred) && isEnglish(preferred) ? preferred : (has("en_US") ? "en_US" : "");
    if (!first.empty()) out.push_back(first);
    std::set<fs::path> seen;
    if (!first.empty()) seen.insert(fileOf(first));
    for (const auto& name : names_)
        if (isEnglish(name) && seen.insert(fileOf(name)).second) out.push_back(name);
    return out;
}

std::vector<std::string> Dictionaries::otherLanguages() const {
    std::vector<std::string> out;
    std::set<fs::path> seen;
    // Prefer the shortest name of a shared file: "fr" over "fr_BE", then "de_DE" over "de_LU" by order.
    std::vector<std::string> sorted = names_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
    for (const auto& name : sorted) {
        if (isEnglish(name)) continue;
        fs::path file = fileOf(name);
        // A country-specific link to another dictionary ("de_BE" → de_DE.dic) names it by the file's own stem.
        if (seen.insert(file).second) out.push_back(has(file.stem().string()) ? file.stem().string() : name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

fs::path Dictionaries::fileOf(const std::string& name) const {
    auto it = files_.find(name);
    return it == files_.end() ? fs::path() : it->second;
}

fs::path Dictionaries::findFile(const std::string& name) const {
    for (const auto& dir : paths_.dictionaryDirs) {
        std::error_code ec;
        fs::path dic = dir / (name + ".dic");
        if (fs::is_regular_file(dic, ec)) {
            fs::path canonical = fs::canonical(dic, ec);
            return ec ? dic : canonical;
        }
    }
    return {};
}

const Speller* Dictionaries::get(const std::string& name) {
    if (!has(name)) return nullptr;
    std::lock_guard lock(mutex_);
    if (auto it = byName_.find(name); it != byName_.end()) return it->second;
    fs::path file = fileOf(name);
    const Speller* speller = nullptr;
    if (auto it = loaded_.find(file); it != loaded_.end()) {
        speller = it->second.get();
    } else {
        try {
            // Loaded under its file's own name so that shared files rank words the same way.
            std::string own = has(file.stem().string()) ? file.stem().string() : name;
            auto made = std::make_unique<Speller>(own, paths_);
            speller = made.get();
            loaded_.emplace(file, std::move(made));
        } catch (const std::exception&) {
            speller = nullptr;  // unreadable or in an unsupported encoding: as if not installed
        }
    }
    byName_[name] = speller;
    return speller;
}

std::size_t Dictionaries::loadedCount() const {
    std::lock_guard lock(mutex_);
    return loaded_.size();
}

}  // namespace quillant::service
