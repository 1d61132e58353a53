#include "platform/linux/SettingsFileStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>
#include <vector>

#include "runtime/AtomicFile.h"

namespace quillant::linux_platform {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A settings file this large is not ours; reading it would only waste memory.
constexpr std::size_t kMaxFileSize = 1 << 20;

std::string errnoText(int error) { return std::generic_category().message(error); }

struct FileContents {
    enum class Status { missing, ok, unreadable, tooLarge } status;
    std::string bytes;
    int error = 0;
};

FileContents readFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT) return {FileContents::Status::missing, {}, error};
        return {FileContents::Status::unreadable, {}, error};
    }
    FileContents contents{FileContents::Status::ok, {}, 0};
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            contents = {FileContents::Status::unreadable, {}, errno};
            break;
        }
        if (n == 0) break;
        contents.bytes.append(buffer, std::size_t(n));
        if (contents.bytes.size() > kMaxFileSize) {
            contents = {FileContents::Status::tooLarge, {}, 0};
            break;
        }
    }
    ::close(fd);
    return contents;
}

// Creates the directory (and its parents) when missing; ours is private
// because it also holds the API key file.
bool ensureDirectory(const fs::path& directory, int& error) {
    std::error_code ec;
    if (fs::is_directory(directory, ec)) return true;
    if (directory.has_parent_path()) fs::create_directories(directory.parent_path(), ec);
    if (::mkdir(directory.c_str(), 0700) == 0 || errno == EEXIST) {
        if (fs::is_directory(directory, ec)) return true;
        error = ENOTDIR;
        return false;
    }
    error = errno;
    return false;
}

// Readers see the old file or the new one, never a mixture. Returns 0 or the
// errno of the step that failed.
int replaceSettingsFile(const fs::path& target, std::string_view bytes) {
    int error = 0;
    if (!ensureDirectory(target.parent_path(), error)) return error;
    return replaceFileAtomically(target, bytes, 0600);
}

std::optional<hotkey::DefaultsValue> toValue(const json& value) {
    switch (value.type()) {
        case json::value_t::number_integer:
            return hotkey::DefaultsValue{value.get<std::int64_t>()};
        case json::value_t::number_unsigned: {
            auto u = value.get<std::uint64_t>();
            if (u <= std::uint64_t(std::numeric_limits<std::int64_t>::max()))
                return hotkey::DefaultsValue{std::int64_t(u)};
            return hotkey::DefaultsValue{double(u)};  // too large for an integer entry
        }
        case json::value_t::number_float:
            return hotkey::DefaultsValue{value.get<double>()};
        case json::value_t::boolean:
            return hotkey::DefaultsValue{value.get<bool>()};
        case json::value_t::string:
            return hotkey::DefaultsValue{value.get<std::string>()};
        default:
            return std::nullopt;  // arrays, objects and null have no dictionary value
    }
}

json toJSON(const hotkey::DefaultsDictionary& dictionary) {
    json object = json::object();
    // Not a structured binding: clang 14 cannot capture those in a lambda.
    for (const auto& entry : dictionary)
        std::visit([&object, &name = entry.first](const auto& v) { object[name] = v; }, entry.second);
    return object;
}

}  // namespace

std::optional<fs::path> configDirectoryFor(const char* xdgConfigHome, const char* home) {
    // Relative XDG paths are invalid and must be ignored.
    if (xdgConfigHome && xdgConfigHome[0] == '/') return fs::path(xdgConfigHome) / "quillant";
    if (home && home[0] != '\0') return fs::path(home) / ".config" / "quillant";
    return std::nullopt;
}

std::optional<fs::path> defaultConfigDirectory() {
    if (auto dir = configDirectoryFor(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))) return dir;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result)
        return configDirectoryFor(nullptr, result->pw_dir);
    return std::nullopt;
}

SettingsFileStore::SettingsFileStore(fs::path directory, Logger& logger)
    : directory_(std::move(directory)),
      path_(directory_ / fileName),
      log_(logger, std::string(kLogSubsystem), "settings") {}

namespace {
// The file's top-level object, or none (after logging why) when it is missing or unusable.
std::optional<json> loadObject(const fs::path& path, const CategoryLogger& log, std::string_view consequence) {
    auto contents = readFile(path);
    switch (contents.status) {
        case FileContents::Status::missing:
            return std::nullopt;
        case FileContents::Status::unreadable:
            log.error("cannot read settings file " + path.string() + ": " + errnoText(contents.error) + "; " +
                      std::string(consequence));
            return std::nullopt;
        case FileContents::Status::tooLarge:
            log.error("settings file " + path.string() + " is too large; " + std::string(consequence));
            return std::nullopt;
        case FileContents::Status::ok:
            break;
    }
    // The parser stops at a NUL byte; JSON text never holds one, so such a file is damaged.
    bool hasNul = contents.bytes.find('\0') != std::string::npos;
    json parsed = hasNul ? json() : json::parse(contents.bytes, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) {
        log.error("settings file " + path.string() + " is not a JSON object; " + std::string(consequence));
        return std::nullopt;
    }
    return parsed;
}
}  // namespace

std::optional<hotkey::DefaultsDictionary> SettingsFileStore::dictionaryForKey(const std::string& key) {
    auto object = loadObject(path_, log_, "using defaults");
    if (!object) return std::nullopt;
    auto found = object->find(key);
    if (found == object->end() || !found->is_object()) return std::nullopt;
    hotkey::DefaultsDictionary dictionary;
    for (const auto& [name, value] : found->items())
        if (auto converted = toValue(value)) dictionary.emplace(name, std::move(*converted));
    return dictionary;
}

void SettingsFileStore::setObject(const hotkey::DefaultsDictionary& value, const std::string& key) {
    // Keep whatever else the file holds; an unusable file is replaced.
    json object = loadObject(path_, log_, "replacing it").value_or(json::object());
    object[key] = toJSON(value);
    std::string text = object.dump(2, ' ', false, json::error_handler_t::replace) + "\n";

    // A symlinked settings file (a dotfiles checkout) stays a link; its target is replaced.
    fs::path target = path_;
    std::error_code ec;
    if (fs::is_symlink(path_, ec)) {
        auto resolved = fs::weakly_canonical(path_, ec);
        if (!ec) target = resolved;
    }
    if (int error = replaceSettingsFile(target, text))
        log_.error("could not save settings to " + target.string() + ": " + errnoText(error));
}

}  // namespace quillant::linux_platform
