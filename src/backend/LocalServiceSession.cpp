#include "backend/LocalServiceSession.h"

namespace quillant::backend {

LocalServiceSession::LocalServiceSession(Executor& executor, std::shared_ptr<HttpSession> inner,
                                         std::string localBaseURL, std::shared_ptr<LocalServiceStarter> starter)
    : executor_(executor),
      inner_(std::move(inner)),
      localBaseURL_(std::move(localBaseURL)),
      starter_(std::move(starter)) {}

TransferHandle LocalServiceSession::send(HttpRequest request, Completion completion) {
    if (!request.url.starts_with(localBaseURL_)) return inner_->send(std::move(request), std::move(completion));
    auto inner = inner_;
    auto starter = starter_;
    TaskHandle task = spawn(executor_, [inner, starter, request = std::move(request),
                                        completion = std::move(completion)]() -> Task<void> {
        for (int attempt = 0;; ++attempt) {
            std::optional<std::string> unreachable = co_await starter->ensureRunning();
            if (co_await isCancelled()) {
                completion(TransportError{TransportError::Kind::cancelled, "Request cancelled"});
                co_return;
            }
            if (unreachable) {
                completion(TransportError{TransportError::Kind::cannotConnect, *unreachable});
                co_return;
            }
            HttpResult result = co_await perform(*inner, request);
            auto* error = std::get_if<TransportError>(&result);
            if (attempt == 0 && error && error->kind == TransportError::Kind::cannotConnect) continue;
            // Connected, then no answer: the corrector went away in the middle.
            if (error && error->kind == TransportError::Kind::other)
                error->description = "the local corrector stopped during the request (" + error->description +
                                     "); the next fix starts it again";
            completion(std::move(result));
            co_return;
        }
    });
    Executor& executor = executor_;
    return TransferHandle([&executor, task]() mutable { executor.post([task]() mutable { task.cancel(); }); });
}

TransferHandle LocalServiceSession::download(HttpRequest request, std::filesystem::path destination,
                                             Completion completion) {
    // Releases come from elsewhere; a download is never the reason to start the corrector.
    return inner_->download(std::move(request), std::move(destination), std::move(completion));
}

}  // namespace quillant::backend
