#include "backend/BackendProtocol.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

namespace quillant::backend {

namespace {

using nlohmann::json;

std::optional<json> parseObject(std::string_view body) {
    if (body.size() > kMaxResponseBodyBytes) return std::nullopt;
    json value = json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
    if (!value.is_object()) return std::nullopt;  // also covers a parse failure (discarded)
    return value;
}

const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// A required string: present and a string.
std::optional<std::string> requiredString(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

// An optional string: absent or null means none; any other type is a decoding failure.
bool optionalString(const json& object, const char* key, std::optional<std::string>& out) {
    const json* value = member(object, key);
    if (!value || value->is_null()) {
        out.reset();
        return true;
    }
    if (!value->is_string()) return false;
    out = value->get<std::string>();
    return true;
}

std::string lowercase(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::string encodeFixRequest(std::string_view text) {
    json body = json::object();
    body["text"] = std::string(text);
    return body.dump();
}

std::optional<std::string> decodeFixResponse(std::string_view body) {
    auto object = parseObject(body);
    if (!object) return std::nullopt;
    return requiredString(*object, "corrected");
}

std::optional<FixResult> decodeFixResult(std::string_view body) {
    auto object = parseObject(body);
    if (!object) return std::nullopt;
    auto corrected = requiredString(*object, "corrected");
    std::optional<std::string> note;
    if (!corrected || !optionalString(*object, "note", note)) return std::nullopt;
    FixResult answer{std::move(*corrected), note.value_or("")};
    if (answer.note.size() > kMaxNoteBytes) {
        std::size_t cut = kMaxNoteBytes;
        while (cut > 0 && (static_cast<unsigned char>(answer.note[cut]) & 0xC0) == 0x80) --cut;  // whole characters
        answer.note = answer.note.substr(0, cut) + "…";
    }
    for (char& c : answer.note)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return answer;
}

std::optional<bool> decodeValidateResponse(std::string_view body) {
    auto object = parseObject(body);
    if (!object) return std::nullopt;
    const json* valid = member(*object, "valid");
    if (!valid || !valid->is_boolean()) return std::nullopt;
    return valid->get<bool>();
}

std::optional<ErrorEnvelope> decodeErrorEnvelope(std::string_view body) {
    auto object = parseObject(body);
    if (!object) return std::nullopt;
    ErrorEnvelope envelope;
    auto error = requiredString(*object, "error");
    auto message = requiredString(*object, "message");
    if (!error || !message) return std::nullopt;
    envelope.error = std::move(*error);
    envelope.message = std::move(*message);
    if (!optionalString(*object, "request_id", envelope.requestId)) return std::nullopt;
    if (!optionalString(*object, "reset_at", envelope.resetAt)) return std::nullopt;
    return envelope;
}

ErrorEnvelope fallbackEnvelope(int status) { return ErrorEnvelope{"unknown", "HTTP " + std::to_string(status), {}, {}}; }

std::variant<std::string, BackendError> interpretFixResponse(int status, std::string_view body) {
    auto answer = interpretFixResult(status, body);
    if (auto* error = std::get_if<BackendError>(&answer)) return std::move(*error);
    return std::move(std::get<FixResult>(answer).corrected);
}

std::variant<FixResult, BackendError> interpretFixResult(int status, std::string_view body) {
    if (status == 200) {
        if (auto answer = decodeFixResult(body)) return std::move(*answer);
        return BackendError::decoding();
    }
    ErrorEnvelope envelope = decodeErrorEnvelope(body).value_or(fallbackEnvelope(status));
    switch (status) {
        case 400:
            if (envelope.error == "text_too_long") return BackendError::textTooLong();
            return BackendError::badRequest(std::move(envelope.message));
        case 401:
            return BackendError::invalidKey();
        case 403:
            if (envelope.error == "invalid_key") return BackendError::invalidKey();
            break;
        case 429:
            return BackendError::quotaExceeded(std::move(envelope.resetAt));
        default:
            break;
    }
    return BackendError::serverError(status, std::move(envelope.error), std::move(envelope.message),
                                     std::move(envelope.requestId));
}

ValidationOutcome interpretValidateResponse(int status, std::string_view body) {
    if (status == 200) {
        auto valid = decodeValidateResponse(body);
        if (!valid) return ValidationOutcome::unreachable;
        return *valid ? ValidationOutcome::valid : ValidationOutcome::invalid;
    }
    if (status == 401 || status == 403) return ValidationOutcome::invalid;
    return ValidationOutcome::unreachable;
}

std::optional<VersionInfo> interpretVersionResponse(std::string_view body) {
    auto object = parseObject(body);
    if (!object) return std::nullopt;
    auto version = requiredString(*object, "version");
    auto url = requiredString(*object, "download_url");
    if (!version || !url || !isAcceptableDownloadURL(*url)) return std::nullopt;
    return VersionInfo{std::move(*version), std::move(*url)};
}

bool isRetryable(const BackendError& error) {
    switch (error.kind()) {
        case BackendError::Kind::transport:
            return true;
        case BackendError::Kind::serverError:
            return error.status() == 500 || error.status() == 502 || error.status() == 504;
        default:
            return false;
    }
}

std::string joinURL(std::string_view baseURL, std::string_view path) {
    std::size_t schemeEnd = baseURL.find("://");
    std::size_t searchFrom = schemeEnd == std::string_view::npos ? 0 : schemeEnd + 3;
    std::size_t tailStart = baseURL.find_first_of("?#", searchFrom);
    std::string_view head = baseURL.substr(0, tailStart);
    std::string_view tail = tailStart == std::string_view::npos ? std::string_view{} : baseURL.substr(tailStart);
    while (!head.empty() && head.back() == '/' && head.size() > searchFrom) head.remove_suffix(1);
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    std::string url(head);
    url += '/';
    url += path;
    url += tail;
    return url;
}

namespace {

struct Origin {
    std::string scheme;  // lower case: "https", "http" or "http+unix"
    std::string host;    // lower case; for "http+unix" the encoded socket path
};

// The scheme and host of an absolute URL we could fetch, or none.
std::optional<Origin> originOf(std::string_view url) {
    // Printable ASCII only: no blanks, controls or raw non-ASCII bytes.
    for (unsigned char c : url)
        if (c <= 0x20 || c >= 0x7f || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
            c == '{' || c == '|' || c == '}')
            return std::nullopt;
    std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) return std::nullopt;
    std::string scheme = lowercase(url.substr(0, schemeEnd));
    if (scheme != "https" && scheme != "http" && scheme != "http+unix") return std::nullopt;
    std::string_view rest = url.substr(schemeEnd + 3);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (scheme == "http+unix") {
        auto target = parseLocalSocketURL(url);
        if (!target) return std::nullopt;
        return Origin{scheme, std::string(authority)};
    }
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = authority.substr(0, close + 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            port = after.substr(1);
        }
    } else {
        std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string_view::npos) port = authority.substr(colon + 1);
    }
    if (host.empty() || host == "[]") return std::nullopt;
    if (!std::all_of(port.begin(), port.end(), ::isdigit) || port.size() > 5) return std::nullopt;
    return Origin{scheme, lowercase(host)};
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool isAcceptableDownloadURL(std::string_view url) {
    auto origin = originOf(url);
    if (!origin) return false;
    // A plain-http update would let anyone on the path swap the program; on
    // loopback, whichever local user took the port first.
    return origin->scheme != "http";
}

bool isAllowedRedirect(std::string_view from, std::string_view to) {
    auto a = originOf(from);
    auto b = originOf(to);
    if (!a || !b || !isAcceptableDownloadURL(from) || !isAcceptableDownloadURL(to)) return false;
    if (a->scheme == "https") return b->scheme == "https";
    // From a local origin: the same host or socket only (any port, either of http and https).
    return b->scheme == "http+unix" && b->host == a->host;
}

std::string localSocketURL(std::string_view socketPath) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "http+unix://";
    for (unsigned char c : socketPath) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

std::optional<LocalSocketTarget> parseLocalSocketURL(std::string_view url) {
    constexpr std::string_view prefix = "http+unix://";
    if (url.size() < prefix.size() || lowercase(url.substr(0, prefix.size())) != prefix) return std::nullopt;
    std::string_view rest = url.substr(prefix.size());
    std::size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    LocalSocketTarget target;
    for (std::size_t i = 0; i < authority.size(); ++i) {
        char c = authority[i];
        if (c == '%') {
            if (i + 2 >= authority.size()) return std::nullopt;
            int hi = hexValue(authority[i + 1]);
            int lo = hexValue(authority[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            char decoded = static_cast<char>(hi * 16 + lo);
            if (decoded == '\0') return std::nullopt;
            target.socketPath += decoded;
            i += 2;
        } else {
            target.socketPath += c;
        }
    }
    if (target.socketPath.empty() || target.socketPath.front() != '/') return std::nullopt;
    std::string_view tail = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    tail = tail.substr(0, tail.find('#'));
    target.pathAndQuery = tail.empty() || tail.front() != '/' ? "/" + std::string(tail) : std::string(tail);
    return target;
}

}  // namespace quillant::backend
