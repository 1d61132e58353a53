#pragma once

#include <exception>
#include <optional>
#include <string>

#include "backend/HttpSession.h"

namespace quillant::backend {

// The one error a fix request can end in. Callers tell the cases apart by
// kind(); the payload accessors of other cases return empty values.
class BackendError : public std::exception {
public:
    enum class Kind { quotaExceeded, badRequest, serverError, transport, invalidKey, textTooLong, decoding };

    static BackendError quotaExceeded(std::optional<std::string> resetAt);
    static BackendError badRequest(std::string message);
    static BackendError serverError(int status, std::string code, std::string message,
                                    std::optional<std::string> requestId);
    static BackendError transport(TransportError error);
    static BackendError invalidKey();
    static BackendError textTooLong();
    static BackendError decoding();

    Kind kind() const { return kind_; }

    const std::optional<std::string>& resetAt() const { return resetAt_; }      // quotaExceeded
    const std::string& message() const { return message_; }                     // badRequest, serverError
    int status() const { return status_; }                                       // serverError
    const std::string& code() const { return code_; }                            // serverError
    const std::optional<std::string>& requestId() const { return requestId_; }  // serverError
    const TransportError& transportError() const { return transport_; }         // transport

    // The one line shown to the user and logged.
    std::string userMessage() const;
    std::string description() const { return userMessage(); }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    explicit BackendError(Kind kind) : kind_(kind) {}
    BackendError&& finish() &&;

    Kind kind_;
    std::optional<std::string> resetAt_;
    std::string message_;
    int status_ = 0;
    std::string code_;
    std::optional<std::string> requestId_;
    TransportError transport_;
    std::string what_;
};

}  // namespace quillant::backend
