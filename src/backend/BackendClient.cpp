#include "backend/BackendClient.h"

#include <chrono>
#include <cmath>
#include <stdexcept>

namespace quillant::backend {

namespace {

std::chrono::milliseconds timeoutOf(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return std::chrono::milliseconds(1);
    double ms = std::ceil(seconds * 1000.0);
    if (ms > 24.0 * 3600 * 1000) ms = 24.0 * 3600 * 1000;  // keeps the conversion in range
    return std::chrono::milliseconds(static_cast<long long>(ms));
}

// An answer too large to read decodes as nothing.
std::string_view bodyOf(const HttpResponse& response) {
    return response.bodyExceededLimit ? std::string_view{} : std::string_view(response.body);
}

std::shared_ptr<HttpSession> requireSession(const std::shared_ptr<HttpSession>& session) {
    if (!session) throw std::invalid_argument("BackendClient has no HTTP session");
    return session;
}

Task<FixResult> callOnceWith(BackendClient client, std::string text) {
    auto session = requireSession(client.session);
    HttpRequest request;
    request.url = joinURL(client.baseURL, "/v1/fix");
    request.method = "POST";
    request.timeout = timeoutOf(client.timeoutSeconds);
    request.headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + client.token}};
    request.body = encodeFixRequest(text);

    HttpResult result = co_await perform(*session, std::move(request));
    if (auto* error = std::get_if<TransportError>(&result)) throw BackendError::transport(std::move(*error));
    const auto& response = std::get<HttpResponse>(result);
    auto outcome = interpretFixResult(response.status, bodyOf(response));
    if (auto* error = std::get_if<BackendError>(&outcome)) throw std::move(*error);
    co_return std::move(std::get<FixResult>(outcome));
}

Task<FixResult> transformWith(BackendClient client, std::string text) {
    try {
        co_return co_await callOnceWith(client, text);
    } catch (const BackendError& error) {
        if (!isRetryable(error)) throw;
    }
    // The first error is dropped: the second attempt's outcome is the answer.
    // A cancelled caller skips the pause; its second attempt then ends at once.
    co_await sleepFor(kRetryPause);
    co_return co_await callOnceWith(std::move(client), std::move(text));
}

Task<ValidationOutcome> validateWith(BackendClient client) {
    if (!client.session) co_return ValidationOutcome::unreachable;
    HttpRequest request;
    request.url = joinURL(client.baseURL, "/v1/validate");
    request.method = "GET";
    request.timeout = timeoutOf(client.timeoutSeconds);
    request.headers = {{"Authorization", "Bearer " + client.token}};

    HttpResult result = co_await perform(*client.session, std::move(request));
    const auto* response = std::get_if<HttpResponse>(&result);
    if (!response) co_return ValidationOutcome::unreachable;
    co_return interpretValidateResponse(response->status, bodyOf(*response));
}

Task<std::optional<VersionInfo>> fetchVersionWith(std::string baseURL, std::shared_ptr<HttpSession> session) {
    if (!session) co_return std::nullopt;
    HttpRequest request;
    request.url = joinURL(baseURL, "/v1/version");
    request.timeout = kVersionRequestTimeout;

    HttpResult result = co_await perform(*session, std::move(request));
    const auto* response = std::get_if<HttpResponse>(&result);
    if (!response) co_return std::nullopt;
    co_return interpretVersionResponse(bodyOf(*response));
}

}  // namespace

Task<std::string> correctedOf(Task<FixResult> answer) { co_return (co_await std::move(answer)).corrected; }

Task<std::string> BackendClient::transform(std::string text) const { return correctedOf(transformWith(*this, std::move(text))); }

Task<FixResult> BackendClient::fix(std::string text) const { return transformWith(*this, std::move(text)); }

Task<std::string> BackendClient::callOnce(std::string text) const { return correctedOf(callOnceWith(*this, std::move(text))); }

Task<ValidationOutcome> BackendClient::validateToken() const { return validateWith(*this); }

Task<std::optional<VersionInfo>> BackendClient::fetchLatestVersion(std::string baseURL,
                                                                   std::shared_ptr<HttpSession> session) {
    return fetchVersionWith(std::move(baseURL), std::move(session));
}

}  // namespace quillant::backend
