#include "backend/BackendError.h"

namespace quillant::backend {

BackendError&& BackendError::finish() && {
    what_ = userMessage();
    return std::move(*this);
}

BackendError BackendError::quotaExceeded(std::optional<std::string> resetAt) {
    BackendError e(Kind::quotaExceeded);
    e.resetAt_ = std::move(resetAt);
    return std::move(e).finish();
}

BackendError BackendError::badRequest(std::string message) {
    BackendError e(Kind::badRequest);
    e.message_ = std::move(message);
    return std::move(e).finish();
}

BackendError BackendError::serverError(int status, std::string code, std::string message,
                                       std::optional<std::string> requestId) {
    BackendError e(Kind::serverError);
    e.status_ = status;
    e.code_ = std::move(code);
    e.message_ = std::move(message);
    e.requestId_ = std::move(requestId);
    return std::move(e).finish();
}

BackendError BackendError::transport(TransportError error) {
    BackendError e(Kind::transport);
    e.transport_ = std::move(error);
    return std::move(e).finish();
}

BackendError BackendError::invalidKey() { return BackendError(Kind::invalidKey).finish(); }
BackendError BackendError::textTooLong() { return BackendError(Kind::textTooLong).finish(); }
BackendError BackendError::decoding() { return BackendError(Kind::decoding).finish(); }

std::string BackendError::userMessage() const {
    switch (kind_) {
        case Kind::quotaExceeded:
            // Presence is the test: an empty reset time still gets "resets ".
            return resetAt_ ? "Quota reached, resets " + *resetAt_ : "Quota reached";
        case Kind::badRequest:
            return "Bad request: " + message_;
        case Kind::serverError:
            return "Backend error " + std::to_string(status_) + ": " + message_;
        case Kind::transport:
            return "Network error: " + transport_.description;
        case Kind::invalidKey:
            return "API key invalid \u2014 re-enter token";
        case Kind::textTooLong:
            return "Selection too long";
        case Kind::decoding:
            return "Bad response from backend";
    }
    return "Bad response from backend";
}

}  // namespace quillant::backend
