#pragma once

#include "service/QuotaTracker.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillant::service {

struct TlsFiles {
    std::filesystem::path certificate;
    std::filesystem::path privateKey;
};

// An OpenAI-compatible chat-completions endpoint.
struct UpstreamOptions {
    std::string baseURL;  // e.g. "http://127.0.0.1:11434/v1"; "/chat/completions" is appended
    std::string model;
    std::string apiKey;  // sent over https only; empty: no Authorization header
    std::chrono::milliseconds timeout{8000};
    std::optional<std::filesystem::path> caFile;  // trusted besides the system's authorities
    bool operator==(const UpstreamOptions&) const = default;
};

// What /v1/version announces.
struct Release {
    std::string version;
    std::string downloadURL;
};

enum class CorrectorKind { rules, upstream };

struct ServiceConfig {
    // Set: serve on this Unix socket only (host, port and TLS unused). The
    // command line's default, in the user's private runtime folder.
    std::optional<std::filesystem::path> socketPath;
    std::string host = "127.0.0.1";
    int port = 8787;  // 0: any free port
    std::optional<TlsFiles> tls;
    std::filesystem::path keysFile;
    std::size_t maxChars = 1500;  // user-perceived characters per text
    QuotaPolicy quota;
    CorrectorKind corrector = CorrectorKind::rules;
    std::string language = "auto";  // the offline corrector's: "auto" (per sentence) or a dictionary's name
    UpstreamOptions upstream;
    std::optional<Release> release;
    std::size_t threads = 8;               // requests served at once
    std::chrono::seconds ioTimeout{10};    // reading a request, writing an answer
    bool logText = false;                  // log the texts (never the keys)
    // Exit after this long without a request; zero: never. quillant starts
    // its local corrector with a delay, so that an idle quillant keeps none.
    std::chrono::seconds idleExit{0};
    // Set: the user's quillant settings folder, whose settings.json
    // ("corrections") and provider-key choose the corrector for every fix.
    std::optional<std::filesystem::path> userConfigDir;
    std::string listModelsURL;  // for Action::listModels

    // Room for the longest allowed text even when every character is a long
    // escaped sequence; larger bodies are refused unread.
    std::size_t maxBodyBytes() const { return maxChars * 128 + 4096; }
};

enum class Action { serve, help, version, addKey, tryCorrections, listModels };

struct Invocation {
    Action action = Action::serve;
    ServiceConfig config;
};

class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
// A whole file's bytes, or none when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;
std::optional<std::string> readWholeFile(const std::string& path);

// Reads the flags (without the program name), and the config file that
// --config names; flags given on the command line win over the file. Files
// (the config file, the upstream key file) are read through `read`.
// Throws ConfigError with a message meant for the user.
Invocation parseCommandLine(const std::vector<std::string>& args, const EnvironmentLookup& env,
                            const FileReader& read = readWholeFile);

std::string usageText();

// The host of an http(s) URL (secure: https), or nothing when it is not one.
std::optional<std::string> httpHost(std::string_view url, bool& secure);

// 127.0.0.0/8, ::1 and "localhost".
bool isLoopbackHost(std::string_view host);

}  // namespace quillant::service
