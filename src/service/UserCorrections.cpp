#include "service/UserCorrections.h"

#include "service/Config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cmath>

namespace quillant::service {

namespace {

using nlohmann::json;

constexpr double kMaxTimeoutSeconds = 120;

bool isLanguageName(const std::string& s) {
    return !s.empty() && s.size() <= 32 &&
           s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") == std::string::npos;
}

std::size_t lineOf(std::string_view text, std::size_t byte) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < byte && i < text.size(); ++i)
        if (text[i] == '\n') ++line;
    return line;
}

}  // namespace

std::string_view sourceName(CorrectionSource source) {
    switch (source) {
        case CorrectionSource::offline: return "offline";
        case CorrectionSource::localModel: return "local-model";
        case CorrectionSource::hostedModel: return "hosted-model";
    }
    return "offline";
}

std::string modelURLProblem(CorrectionSource source, std::string_view url) {
    bool secure = false;
    auto host = httpHost(url, secure);
    if (!host) return "\"" + std::string(url) + "\" is not an http:// or https:// URL";
    if (source == CorrectionSource::hostedModel && !secure)
        return "a hosted model is reached over https only, so its key never travels in the clear";
    if (source == CorrectionSource::localModel && !secure && !isLoopbackHost(*host))
        return "plain http goes to this computer only (127.0.0.1, ::1, localhost); use https for " + *host;
    return {};
}

ParsedCorrections parseCorrections(std::string_view settingsJson) {
    ParsedCorrections out;
    auto& c = out.choice;
    auto ignore = [&](const std::string& entry, const std::string& why) {
        out.ignored.push_back("settings.json: " + entry + " ignored (" + why + "); the default applies");
    };
    json doc;
    try {
        doc = json::parse(settingsJson);
    } catch (const json::parse_error& e) {
        out.ignored.push_back("settings.json line " + std::to_string(lineOf(settingsJson, e.byte ? e.byte - 1 : 0)) +
                              ": not JSON; the default corrections apply");
        return out;
    }
    if (!doc.is_object()) {
        ignore("the whole file", "not a JSON object");
        return out;
    }
    auto it = doc.find("corrections");
    if (it == doc.end()) return out;
    if (!it->is_object()) {
        ignore("\"corrections\"", "not an object");
        return out;
    }
    const json& o = *it;
    if (auto s = o.find("source"); s != o.end()) {
        if (*s == "offline") c.source = CorrectionSource::offline;
        else if (*s == "local-model") c.source = CorrectionSource::localModel;
        else if (*s == "hosted-model") c.source = CorrectionSource::hostedModel;
        else ignore("corrections.source " + s->dump(), "expected \"offline\", \"local-model\" or \"hosted-model\"");
    }
    if (auto l = o.find("language"); l != o.end()) {
        if (l->is_string() && isLanguageName(l->get<std::string>())) c.language = l->get<std::string>();
        else ignore("corrections.language " + l->dump().substr(0, 40), "expected \"auto\" or a dictionary such as en_GB");
    }
    if (auto t = o.find("timeoutSeconds"); t != o.end()) {
        double v = t->is_number() ? t->get<double>() : 0;
        if (std::isfinite(v) && v > 0 && v <= kMaxTimeoutSeconds)
            c.timeout = std::chrono::milliseconds(std::llround(v * 1000));
        else ignore("corrections.timeoutSeconds " + t->dump().substr(0, 40), "expected seconds above 0, at most 120");
    }
    if (auto u = o.find("modelURL"); u != o.end()) {
        if (u->is_string() && !u->get<std::string>().empty()) {
            std::string url = u->get<std::string>();
            while (!url.empty() && url.back() == '/') url.pop_back();
            c.modelURL = url;
        } else {
            ignore("corrections.modelURL", "not a URL");
        }
    }
    if (auto n = o.find("modelName"); n != o.end()) {
        if (n->is_string()) c.modelName = n->get<std::string>();
        else ignore("corrections.modelName", "not a string");
    }
    if (c.source != CorrectionSource::offline) {
        std::string problem = modelURLProblem(c.source, c.modelURL);
        if (problem.empty() && c.modelName.empty()) problem = "no model name";
        if (!problem.empty()) {
            ignore("corrections.source \"" + std::string(sourceName(c.source)) + "\"", problem);
            c.source = CorrectionSource::offline;
        }
    }
    return out;
}

ProviderKey readProviderKey(const std::filesystem::path& file) {
    ProviderKey out;
    int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) out.problem = "the provider key file " + file.string() + " cannot be read";
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0 ||
        st.st_size > 16 * 1024) {
        ::close(fd);
        out.problem = "the provider key file " + file.string() +
                      " is refused: it must be a regular file of yours that only you can read (chmod 600)";
        return out;
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    ssize_t n = ::read(fd, bytes.data(), bytes.size());
    ::close(fd);
    if (n < 0) {
        out.problem = "the provider key file " + file.string() + " cannot be read";
        return out;
    }
    bytes.resize(static_cast<std::size_t>(n));
    auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
    while (!bytes.empty() && blank(bytes.back())) bytes.pop_back();
    std::size_t first = 0;
    while (first < bytes.size() && blank(bytes[first])) ++first;
    out.key = bytes.substr(first);
    if (out.key.find_first_of("\r\n") != std::string::npos || out.key.find('\0') != std::string::npos) {
        out.key.clear();
        out.problem = "the provider key file " + file.string() + " holds more than one line";
    }
    return out;
}

UserCorrections::UserCorrections(std::filesystem::path configDir, Logger& log)
    : dir_(std::move(configDir)), log_(log, std::string(kLogSubsystem), "service") {}

UserCorrections::Stamp UserCorrections::stampOf(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return {};
    auto ns = [](const timespec& t) { return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
    return {true, static_cast<long long>(st.st_size), static_cast<long long>(st.st_ino), ns(st.st_mtim), ns(st.st_ctim)};
}

UserCorrections::Snapshot UserCorrections::current() {
    std::lock_guard lock(mutex_);
    auto settingsFile = dir_ / "settings.json";
    Stamp settings = stampOf(settingsFile);
    if (settingsStamp_ != settings) {
        settingsStamp_ = settings;
        ParsedCorrections parsed;
        if (settings.exists) {
            auto text = readWholeFile(settingsFile.string());
            if (text) parsed = parseCorrections(*text);
            else parsed.ignored.push_back("settings.json cannot be read; the default corrections apply");
        }
        for (const auto& line : parsed.ignored) log_.error(line);
        if (parsed.choice != snapshot_.choice)
            log_.info("corrections now come from " + std::string(sourceName(parsed.choice.source)) +
                      (parsed.choice.source == CorrectionSource::offline
                           ? " (language " + parsed.choice.language + ")"
                           : " (" + parsed.choice.modelName + " at " + parsed.choice.modelURL + ")"));
        snapshot_.choice = parsed.choice;
    }
    auto keyFile = dir_ / std::string(kProviderKeyFile);
    Stamp key = stampOf(keyFile);
    if (keyStamp_ != key) {
        keyStamp_ = key;
        snapshot_.key = readProviderKey(keyFile);
        if (!snapshot_.key.problem.empty()) log_.error(snapshot_.key.problem);
    }
    return snapshot_;
}

}  // namespace quillant::service
