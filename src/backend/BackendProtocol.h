#pragma once

// The text-fixing service's wire contract as pure functions, so that answers
// can be checked (and fuzzed) without a network.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "backend/BackendError.h"

namespace quillant::backend {

// Larger answers are not read; a body past this counts as undecodable.
inline constexpr std::size_t kMaxResponseBodyBytes = 1 << 20;

enum class ValidationOutcome { valid, invalid, unreachable };

struct VersionInfo {
    std::string version;      // as the service sent it
    std::string downloadURL;  // an absolute http(s) URL

    bool operator==(const VersionInfo&) const = default;
};

struct ErrorEnvelope {
    std::string error;
    std::string message;
    std::optional<std::string> requestId;
    std::optional<std::string> resetAt;
};

// The body of a POST to /v1/fix. Throws nlohmann::json::type_error when the
// text is not valid UTF-8.
std::string encodeFixRequest(std::string_view text);

std::optional<std::string> decodeFixResponse(std::string_view body);

// A fix's answer: the corrected text and, when the service did not correct it
// as chosen (a model that failed, answered offline), a note saying so.
struct FixResult {
    std::string corrected;
    std::string note;  // one line for the status; empty without one
    bool operator==(const FixResult&) const = default;
};
inline constexpr std::size_t kMaxNoteBytes = 300;
// A note that is not a string makes the answer undecodable; a long one is cut
// short and control characters become spaces.
std::optional<FixResult> decodeFixResult(std::string_view body);
std::optional<bool> decodeValidateResponse(std::string_view body);
std::optional<ErrorEnvelope> decodeErrorEnvelope(std::string_view body);
ErrorEnvelope fallbackEnvelope(int status);

// One /v1/fix answer: the corrected text, or the error to throw.
std::variant<std::string, BackendError> interpretFixResponse(int status, std::string_view body);
std::variant<FixResult, BackendError> interpretFixResult(int status, std::string_view body);
ValidationOutcome interpretValidateResponse(int status, std::string_view body);
// The status is not examined: a well-formed body is the answer.
std::optional<VersionInfo> interpretVersionResponse(std::string_view body);

// Whether a failed fix attempt is worth one more try.
bool isRetryable(const BackendError& error);

// `path` appended to the base URL's path as one component; a path in the
// base stays in front, and a query or fragment stays behind.
std::string joinURL(std::string_view baseURL, std::string_view path);

// An absolute https URL with a host, or a path on a local socket (see
// localSocketURL); never plain http, not even to loopback.
bool isAcceptableDownloadURL(std::string_view url);

// Whether a download at `from` may follow a redirect to `to` (absolute):
// https only to https; a local socket only to the same socket. API requests never follow redirects at all.
bool isAllowedRedirect(std::string_view from, std::string_view to);
inline constexpr int kMaxDownloadRedirects = 5;

// Base URLs of a service behind a Unix domain socket: "http+unix://" and the
// socket's path percent-encoded as the authority, so that paths append as
// usual ("http+unix://%2Frun%2Fuser%2F1000%2Fquillant%2Fservice.sock/v1/fix").
std::string localSocketURL(std::string_view socketPath);
// The socket's path and the request's path (with query), or none when the
// URL is not of that form.
struct LocalSocketTarget {
    std::string socketPath;
    std::string pathAndQuery;
};
std::optional<LocalSocketTarget> parseLocalSocketURL(std::string_view url);

}  // namespace quillant::backend
