#include "service/Config.h"

#include "platform/linux/PrivateRuntimeDir.h"

#include <arpa/inet.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

namespace quillant::service {

namespace {

struct Setting {
    std::string name;
    std::string value;
    std::string origin;  // "--name" or "FILE:LINE", for messages
};

struct OptionSpec {
    std::string_view name;
    bool takesValue;
    bool commandLineOnly;
};

constexpr OptionSpec kOptions[] = {
    {"config", true, true},           {"help", false, true},
    {"version", false, true},         {"add-key", false, true},
    {"socket", true, false},
    {"host", true, false},            {"port", true, false},
    {"tls-cert", true, false},        {"tls-key", true, false},
    {"keys-file", true, false},       {"max-chars", true, false},
    {"quota", true, false},           {"quota-window", true, false},
    {"corrector", true, false},       {"upstream-url", true, false},
    {"upstream-model", true, false},  {"upstream-key-file", true, false},
    {"upstream-timeout", true, false}, {"allow-insecure-upstream", false, false},
    {"release-version", true, false}, {"release-url", true, false},
    {"threads", true, false},         {"io-timeout", true, false},
    {"log-text", false, false},       {"language", true, false},
    {"idle-exit", true, false},
    {"user-config", true, false},     {"upstream-ca-file", true, false},
    {"try-corrections", false, true}, {"list-models", true, true},
};

const OptionSpec* findOption(std::string_view name) {
    for (const auto& o : kOptions)
        if (o.name == name) return &o;
    return nullptr;
}

std::string trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return std::string(s);
}

std::uint64_t parseCount(const Setting& s, std::uint64_t min, std::uint64_t max) {
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(s.value.data(), s.value.data() + s.value.size(), value);
    if (ec != std::errc() || end != s.value.data() + s.value.size() || value < min || value > max)
        throw ConfigError(s.origin + ": expected a whole number from " + std::to_string(min) + " to " +
                          std::to_string(max) + ", got \"" + s.value + "\"");
    return value;
}

std::chrono::milliseconds parseSeconds(const Setting& s) {
    double seconds = 0;
    std::size_t used = 0;
    try {
        seconds = std::stod(s.value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != s.value.size() || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600)
        throw ConfigError(s.origin + ": expected a number of seconds above 0 and at most 3600, got \"" + s.value + "\"");
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

bool parseBool(const Setting& s) {
    if (s.value.empty() || s.value == "true" || s.value == "yes" || s.value == "1") return true;
    if (s.value == "false" || s.value == "no" || s.value == "0") return false;
    throw ConfigError(s.origin + ": expected true or false, got \"" + s.value + "\"");
}

std::string readSecretFile(const Setting& s, const FileReader& read) {
    auto contents = read(s.value);
    if (!contents) throw ConfigError(s.origin + ": cannot read " + s.value);
    std::string secret = trim(*contents);
    if (secret.empty()) throw ConfigError(s.origin + ": " + s.value + " is empty");
    return secret;
}

std::vector<Setting> readConfigFile(const std::string& path, const FileReader& read) {
    auto contents = read(path);
    if (!contents) throw ConfigError("cannot read the config file " + path);
    std::istringstream in(*contents);
    std::vector<Setting> settings;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string origin = path + ":" + std::to_string(number);
        std::string text = trim(line);
        if (text.empty() || text.front() == '#') continue;
        auto eq = text.find('=');
        std::string name = trim(text.substr(0, eq));
        std::string value = eq == std::string::npos ? "" : trim(text.substr(eq + 1));
        const OptionSpec* spec = findOption(name);
        if (!spec || spec->commandLineOnly) throw ConfigError(origin + ": unknown setting \"" + name + "\"");
        if (spec->takesValue && eq == std::string::npos) throw ConfigError(origin + ": \"" + name + "\" needs a value");
        settings.push_back({name, value, origin});
    }
    return settings;
}

template <typename T>
T& orEmplace(std::optional<T>& value) {
    return value ? *value : value.emplace();
}

void apply(ServiceConfig& config, const Setting& s, const FileReader& read) {
    const std::string& n = s.name;
    if (n == "socket") {
        if (s.value.empty()) throw ConfigError(s.origin + ": the socket needs a path");
        config.socketPath = std::filesystem::absolute(s.value);
    }
    else if (n == "host") config.host = s.value;
    else if (n == "port") config.port = int(parseCount(s, 0, 65535));
    else if (n == "tls-cert") orEmplace(config.tls).certificate = s.value;
    else if (n == "tls-key") orEmplace(config.tls).privateKey = s.value;
    else if (n == "keys-file") config.keysFile = s.value;
    else if (n == "max-chars") config.maxChars = parseCount(s, 1, 1'000'000);
    else if (n == "quota") config.quota.limit = parseCount(s, 0, UINT32_MAX);
    else if (n == "quota-window") config.quota.window = std::chrono::seconds(parseCount(s, 1, 366ull * 24 * 3600));
    else if (n == "corrector") {
        if (s.value == "rules") config.corrector = CorrectorKind::rules;
        else if (s.value == "upstream") config.corrector = CorrectorKind::upstream;
        else throw ConfigError(s.origin + ": the corrector is \"rules\" or \"upstream\", got \"" + s.value + "\"");
    }
    else if (n == "language") {
        // A file name part, so nothing but letters, digits, '_' and '-'.
        bool valid = !s.value.empty() && s.value.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") == std::string::npos;
        if (!valid) throw ConfigError(s.origin + ": expected a dictionary name such as en_US or en_GB, got \"" + s.value + "\"");
        config.language = s.value;  // "auto" or a name; whether it is installed is checked at start
    }
    else if (n == "upstream-url") config.upstream.baseURL = s.value;
    else if (n == "upstream-model") config.upstream.model = s.value;
    else if (n == "upstream-key-file") config.upstream.apiKey = readSecretFile(s, read);
    else if (n == "upstream-timeout") config.upstream.timeout = parseSeconds(s);
    else if (n == "upstream-ca-file") config.upstream.caFile = s.value;
    else if (n == "user-config") {
        if (s.value.empty()) throw ConfigError(s.origin + ": the user config needs a folder");
        config.userConfigDir = std::filesystem::absolute(s.value);
    }
    else if (n == "release-version") orEmplace(config.release).version = s.value;
    else if (n == "release-url") orEmplace(config.release).downloadURL = s.value;
    else if (n == "threads") config.threads = parseCount(s, 1, 256);
    else if (n == "io-timeout") config.ioTimeout = std::chrono::seconds(parseCount(s, 1, 600));
    else if (n == "log-text") config.logText = parseBool(s);
    else if (n == "idle-exit") config.idleExit = std::chrono::seconds(parseCount(s, 0, 24 * 3600));
}

std::filesystem::path defaultKeysFile(const EnvironmentLookup& env) {
    if (auto xdg = env("XDG_CONFIG_HOME"); xdg && !xdg->empty()) return std::filesystem::path(*xdg) / "quillant" / "service-keys";
    if (auto home = env("HOME"); home && !home->empty())
        return std::filesystem::path(*home) / ".config" / "quillant" / "service-keys";
    return {};
}

void validate(ServiceConfig& config, bool allowInsecureUpstream) {
    if (config.tls && (config.tls->certificate.empty() || config.tls->privateKey.empty()))
        throw ConfigError("TLS needs both --tls-cert and --tls-key");
    if (!config.tls && !isLoopbackHost(config.host))
        throw ConfigError("plain HTTP is served on loopback addresses only; give --tls-cert and --tls-key to listen on " +
                          config.host);
    if (config.keysFile.empty()) throw ConfigError("no keys file: give --keys-file (HOME is not set)");
    if (config.corrector == CorrectorKind::upstream) {
        if (config.upstream.baseURL.empty() || config.upstream.model.empty())
            throw ConfigError("the upstream corrector needs --upstream-url and --upstream-model");
        bool secure = false;
        auto host = httpHost(config.upstream.baseURL, secure);
        if (!host) throw ConfigError("--upstream-url must be an http:// or https:// URL");
        if (!secure && !isLoopbackHost(*host) && !allowInsecureUpstream)
            throw ConfigError("--upstream-url sends texts unencrypted to " + *host +
                              "; use https, or add --allow-insecure-upstream");
        while (!config.upstream.baseURL.empty() && config.upstream.baseURL.back() == '/') config.upstream.baseURL.pop_back();
    }
    if (config.release) {
        bool secure = false;
        if (config.release->version.empty() || config.release->downloadURL.empty())
            throw ConfigError("a release needs both --release-version and --release-url");
        // quillant installs only what comes over TLS or its private socket.
        const std::string& url = config.release->downloadURL;
        const bool localSocket = url.rfind("http+unix://%2F", 0) == 0 && url.size() > 15;
        if (!localSocket && (!httpHost(url, secure) || !secure))
            throw ConfigError("--release-url must be an https:// URL (or http+unix:// on the private socket)");
    }
}

}  // namespace

std::optional<std::string> httpHost(std::string_view url, bool& secure) {
    std::string_view rest;
    if (url.substr(0, 8) == "https://") {
        secure = true;
        rest = url.substr(8);
    } else if (url.substr(0, 7) == "http://") {
        secure = false;
        rest = url.substr(7);
    } else {
        return std::nullopt;
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (auto at = rest.rfind('@'); at != std::string_view::npos) rest = rest.substr(at + 1);
    std::string_view host;
    if (!rest.empty() && rest.front() == '[') {
        auto close = rest.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = rest.substr(1, close - 1);
    } else {
        host = rest.substr(0, rest.find(':'));
    }
    if (host.empty()) return std::nullopt;
    return std::string(host);
}

bool isLoopbackHost(std::string_view host) {
    if (host == "localhost") return true;
    std::string h(host);
    if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    in_addr v4{};
    if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, h.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return buffer.str();
}

Invocation parseCommandLine(const std::vector<std::string>& args, const EnvironmentLookup& env, const FileReader& read) {
    Invocation invocation;
    std::vector<Setting> flags;
    std::string configFile;
    bool allowInsecureUpstream = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h") return {Action::help, {}};
        if (arg.rfind("--", 0) != 0) throw ConfigError("unexpected argument \"" + arg + "\"");
        auto eq = arg.find('=');
        std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const OptionSpec* spec = findOption(name);
        if (!spec) throw ConfigError("unknown option --" + name);
        std::string value;
        if (eq != std::string::npos) {
            if (!spec->takesValue) throw ConfigError("--" + name + " takes no value");
            value = arg.substr(eq + 1);
        } else if (spec->takesValue) {
            if (i + 1 >= args.size()) throw ConfigError("--" + name + " needs a value");
            value = args[++i];
        }
        if (name == "help") return {Action::help, {}};
        if (name == "version") invocation.action = Action::version;
        else if (name == "add-key") invocation.action = Action::addKey;
        else if (name == "try-corrections") invocation.action = Action::tryCorrections;
        else if (name == "list-models") {
            invocation.action = Action::listModels;
            invocation.config.listModelsURL = value;
        }
        else if (name == "config") configFile = value;
        else flags.push_back({name, value, "--" + name});
    }

    std::vector<Setting> settings;
    if (!configFile.empty()) settings = readConfigFile(configFile, read);
    settings.insert(settings.end(), flags.begin(), flags.end());

    ServiceConfig& config = invocation.config;
    config.keysFile = defaultKeysFile(env);
    if (auto key = env("QUILLANT_UPSTREAM_KEY")) config.upstream.apiKey = trim(*key);
    bool tcp = false;
    for (const auto& s : settings) {
        if (s.name == "allow-insecure-upstream") allowInsecureUpstream = parseBool(s);
        else apply(config, s, read);
        if (s.name == "host" || s.name == "port" || s.name == "tls-cert" || s.name == "tls-key") tcp = true;
    }
    if (tcp && config.socketPath) throw ConfigError("--socket cannot be combined with --host, --port or TLS");
    // Unless a TCP address is asked for, the service is its user's alone.
    if (!tcp && !config.socketPath) {
        auto runtime = env("XDG_RUNTIME_DIR");
        config.socketPath = linux_platform::localServiceSocket(runtime ? runtime->c_str() : nullptr);
    }
    if (invocation.action == Action::version) return invocation;
    if (invocation.action == Action::tryCorrections && !config.userConfigDir)
        throw ConfigError("--try-corrections needs --user-config");
    if (invocation.action == Action::listModels) return invocation;
    if (invocation.action == Action::addKey) {
        if (config.keysFile.empty()) throw ConfigError("no keys file: give --keys-file (HOME is not set)");
        return invocation;
    }
    validate(config, allowInsecureUpstream);
    return invocation;
}

std::string usageText() {
    return R"(Usage: quillant-service [OPTION]...
A text-fixing service for quillant: POST /v1/fix, GET /v1/validate, GET /v1/version.

  --config FILE            read settings from FILE: "name = value" lines with the
                           option names below; command-line options win
  --socket PATH            listen on this Unix socket; its folder must be yours
                           alone (default: $XDG_RUNTIME_DIR/quillant/service.sock,
                           unless --host, --port or TLS ask for TCP)
  --host ADDRESS           listen on TCP at this address (127.0.0.1 when only
                           --port is given); plain HTTP on loopback addresses only
  --port N                 TCP port (8787 when only --host is given; 0 picks a free one)
  --tls-cert FILE          serve HTTPS with this PEM certificate (chain)
  --tls-key FILE           ... and this PEM private key
  --keys-file FILE         accepted API keys, one per line, "#" comments
                           (default $XDG_CONFIG_HOME/quillant/service-keys);
                           edits are picked up while running
  --add-key                append a fresh key to the keys file, print it, exit
  --max-chars N            longest text in user-perceived characters (default 1500)
  --quota N                fixes per key and window (default 1000; 0 = no limit)
  --quota-window SECONDS   quota window, aligned to the epoch (default 86400)
  --corrector KIND         "rules" (default): built-in offline rules;
                           "upstream": an OpenAI-compatible chat-completions API
  --language NAME          the offline rules' language: "auto" (default: each
                           sentence in the installed dictionary that fits it) or
                           one dictionary, e.g. en_GB, de_DE, fr
  --upstream-url URL       its base URL, e.g. http://127.0.0.1:11434/v1 (Ollama)
  --upstream-model NAME    the model to ask
  --upstream-key-file FILE file holding its API key (or set QUILLANT_UPSTREAM_KEY)
  --upstream-timeout SECS  time allowed for one answer (default 8)
  --allow-insecure-upstream  allow plain http to a non-loopback upstream
  --release-version V      latest release announced by /v1/version ...
  --release-url URL        ... and its download URL, https:// (both or neither; URL.sig is its signature)
  --threads N              requests served at once (default 8)
  --io-timeout SECS        time allowed to read a request or write an answer (default 10)
  --user-config DIR        take the corrector from the "corrections" of
                           DIR/settings.json and the key in DIR/provider-key,
                           read again when they change (quillant passes its own)
  --upstream-ca-file FILE  trust this PEM authority for the upstream's https too
  --try-corrections        correct a sample sentence as --user-config chooses,
                           print it or the exact error, exit
  --list-models URL        print the models an OpenAI-compatible server lists,
                           exit; the provider key of --user-config goes only
                           to the saved hosted model's URL
  --log-text               log texts and corrections (keys are never logged)
  --idle-exit SECS         exit after SECS without a request (default 0: never);
                           quillant starts its local corrector with 90
  --version                print the version and exit
  --help                   print this help and exit
)";
}

}  // namespace quillant::service
