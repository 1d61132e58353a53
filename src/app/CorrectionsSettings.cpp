#include "app/CorrectionsSettings.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "app/UrlPolicy.h"
#include "runtime/AtomicFile.h"

namespace quillant::app {

namespace {

bool isLanguageName(const std::string& s) {
    return !s.empty() && s.size() <= 32 &&
           s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") == std::string::npos;
}

template <typename T>
const T* valueOf(const hotkey::DefaultsDictionary& d, const char* key) {
    auto it = d.find(key);
    return it == d.end() ? nullptr : std::get_if<T>(&it->second);
}

}  // namespace

CorrectionsSettings loadCorrections(hotkey::DefaultsStore& store) {
    CorrectionsSettings s;
    auto d = store.dictionaryForKey(kCorrectionsKey);
    if (!d) return s;
    if (auto* v = valueOf<std::string>(*d, "source"); v && (*v == "offline" || *v == kLocalModelSource || *v == kHostedModelSource))
        s.source = *v;
    if (auto* v = valueOf<std::string>(*d, "language"); v && isLanguageName(*v)) s.language = *v;
    if (auto* v = valueOf<std::string>(*d, "modelURL"); v && !v->empty()) s.modelURL = *v;
    if (auto* v = valueOf<std::string>(*d, "modelName")) s.modelName = *v;
    if (auto* v = valueOf<double>(*d, "timeoutSeconds")) s.timeoutSeconds = *v;
    if (auto* v = valueOf<std::int64_t>(*d, "timeoutSeconds")) s.timeoutSeconds = double(*v);
    return s;
}

std::string correctionsProblem(const CorrectionsSettings& s) {
    if (s.source != "offline" && s.source != kLocalModelSource && s.source != kHostedModelSource)
        return "the source is offline, local-model or hosted-model";
    if (!isLanguageName(s.language)) return "the language is \"auto\" or a dictionary name such as en_GB";
    if (!std::isfinite(s.timeoutSeconds) || s.timeoutSeconds <= 0 || s.timeoutSeconds > 120)
        return "the time-out is above 0 and at most 120 seconds";
    if (s.source == "offline") return {};
    if (s.source == kHostedModelSource && s.modelURL.rfind("https://", 0) != 0)
        return "a hosted model is reached over https only, so its key never travels in the clear";
    if (s.modelURL.rfind("http+unix://", 0) == 0 || !isTrustedURL(s.modelURL))
        return "plain http goes to this computer only (127.0.0.1, ::1, localhost); use https elsewhere";
    if (s.modelName.empty()) return "choose a model";
    return {};
}

void saveCorrections(hotkey::DefaultsStore& store, const CorrectionsSettings& s) {
    hotkey::DefaultsDictionary d;
    d["source"] = s.source;
    d["language"] = s.language;
    d["modelURL"] = s.modelURL;
    d["modelName"] = s.modelName;
    d["timeoutSeconds"] = s.timeoutSeconds;
    store.setObject(d, kCorrectionsKey);
}

std::string describeCorrections(const CorrectionsSettings& s) {
    if (s.source == kLocalModelSource) return "Model on this computer: " + s.modelName + " at " + s.modelURL;
    if (s.source == kHostedModelSource) return "Hosted model: " + s.modelName + " at " + s.modelURL;
    return "Offline dictionary (" + (s.language == "auto" ? std::string("automatic language") : s.language) + ")";
}

std::string saveProviderKey(const std::filesystem::path& configDir, const std::string& key) {
    if (key.empty() || key.find_first_of("\r\n") != std::string::npos || key.find('\0') != std::string::npos)
        return "the key is one line of text";
    std::error_code ec;
    std::filesystem::create_directories(configDir, ec);
    if (int err = replaceFileAtomically(configDir / kProviderKeyFile, key + "\n", 0600))
        return "cannot write " + (configDir / kProviderKeyFile).string() + ": " + std::generic_category().message(err);
    return {};
}

bool hasProviderKey(const std::filesystem::path& configDir) {
    struct stat st {};
    return ::stat((configDir / kProviderKeyFile).c_str(), &st) == 0 && st.st_size > 0;
}

std::vector<std::string> installedDictionaries() {
    std::set<std::string> names;
    for (const char* dir : {"/usr/share/hunspell", "/usr/share/myspell/dicts"}) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            if (entry.path().extension() != ".dic") continue;
            auto aff = entry.path();
            aff.replace_extension(".aff");
            std::string name = entry.path().stem().string();
            if (std::filesystem::exists(aff, ec) && isLanguageName(name)) names.insert(name);
        }
    }
    return {names.begin(), names.end()};
}

}  // namespace quillant::app
