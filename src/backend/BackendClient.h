#pragma once

#include <memory>
#include <optional>
#include <string>

#include "backend/BackendError.h"
#include "backend/BackendProtocol.h"
#include "backend/HttpSession.h"
#include "runtime/Task.h"

namespace quillant::backend {

// The text-fixing service's client: an immutable value, copied freely. Each
// call works on its own copy, so the client it was called on may go away
// while the call is pending.
struct BackendClient {
    std::string baseURL;
    std::string token;  // sent exactly as held
    double timeoutSeconds = 10.0;
    std::shared_ptr<HttpSession> session;

    // The corrected text. Throws BackendError; passing failures (transport,
    // 500, 502, 504) are tried once more after 2 seconds on the executor's
    // clock, or at once if the calling task was cancelled.
    Task<std::string> transform(std::string text) const;
    // The same with the service's note, if any.
    Task<FixResult> fix(std::string text) const;

    // Exactly one attempt at /v1/fix, with the failures of transform().
    Task<std::string> callOnce(std::string text) const;

    // One request to /v1/validate; never throws.
    Task<ValidationOutcome> validateToken() const;

    // One unauthenticated request to /v1/version; none when there is no usable answer.
    static Task<std::optional<VersionInfo>> fetchLatestVersion(std::string baseURL,
                                                                std::shared_ptr<HttpSession> session);
};

inline constexpr std::chrono::seconds kRetryPause{2};
inline constexpr std::chrono::seconds kVersionRequestTimeout{10};

}  // namespace quillant::backend
