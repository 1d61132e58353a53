#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "runtime/Task.h"

namespace quillant::backend {

using HeaderField = std::pair<std::string, std::string>;

struct HttpRequest {
    std::string url;
    std::string method = "GET";
    // Sent in this order, after the few fields the transport adds itself (Host…).
    std::vector<HeaderField> headers;
    std::optional<std::string> body;
    // A data request must complete within this time. A download must connect
    // within it and may never stall for longer; its total time is unbounded.
    std::chrono::milliseconds timeout{60'000};
    // For a download: called on the executor as its body arrives, with the
    // bytes so far and the whole length (0: unknown, told once), once per percent.
    std::function<void(std::uint64_t received, std::uint64_t total)> progress;
};

struct HttpResponse {
    int status = 0;
    std::vector<HeaderField> headers;  // of the final response, in arrival order
    std::string body;                  // empty for downloads
    // The body went past the session's bound and was dropped; `body` is empty.
    bool bodyExceededLimit = false;

    // First field of that name, compared case-insensitively.
    std::optional<std::string> header(std::string_view name) const;
};

// The request went out and got no (complete) answer.
struct TransportError {
    enum class Kind {
        timedOut,
        cancelled,
        cannotConnect,  // refused, unreachable, or the name did not resolve
        tls,            // handshake or certificate verification failed
        tooLarge,       // a download went past the session's bound
        invalidRequest, // e.g. a line break inside a header field
        other,
    };
    Kind kind = Kind::other;
    std::string description;  // the transport's own words, e.g. curl's error text
};

using HttpResult = std::variant<HttpResponse, TransportError>;

// Cancels one transfer. Thread-safe, idempotent, and harmless after the
// transfer completed. A cancelled transfer still completes, with `cancelled`.
class TransferHandle {
public:
    TransferHandle() = default;
    explicit TransferHandle(std::function<void()> cancel)
        : cancel_(std::make_shared<std::function<void()>>(std::move(cancel))) {}
    void cancel() const {
        if (cancel_ && *cancel_) (*cancel_)();
    }

private:
    std::shared_ptr<std::function<void()>> cancel_;
};

// The process-wide HTTP session: owns connection reuse and the TLS session
// cache. Every completion runs exactly once, on the executor the session was
// built with (the main thread), never inside send()/download() itself.
class HttpSession {
public:
    using Completion = std::function<void(HttpResult)>;

    virtual ~HttpSession() = default;

    virtual TransferHandle send(HttpRequest request, Completion completion) = 0;

    // Streams the body into `destination` (created 0600, replaced if present).
    // The response's status is reported but not judged: an error page is
    // saved like any other body. On a transport error no file is left behind.
    virtual TransferHandle download(HttpRequest request, std::filesystem::path destination,
                                    Completion completion) = 0;
};

namespace detail {

// Awaits one transfer; cancelling the awaiting task cancels the transfer, and
// a task that is already cancelled sends nothing.
class TransferAwaiter {
public:
    using Start = std::function<TransferHandle(HttpSession::Completion)>;
    explicit TransferAwaiter(Start start) : start_(std::move(start)) {}
    TransferAwaiter(const TransferAwaiter&) = delete;
    TransferAwaiter& operator=(const TransferAwaiter&) = delete;
    ~TransferAwaiter() {
        // The task was dropped while waiting: nobody wants the answer any more.
        if (state_ && !state_->result) {
            state_->transfer.cancel();
            if (auto shared = state_->shared.lock()) shared->removeOnCancel(state_->cancelId);
        }
    }

    bool await_ready() const noexcept { return false; }

    template <quillant::detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        quillant::detail::TaskContext* ctx = h.promise().ctx;
        state_ = std::make_shared<State>();
        if (ctx->shared->cancelled) {
            state_->result = TransportError{TransportError::Kind::cancelled, "Request cancelled"};
            return false;
        }
        state_->shared = ctx->shared;
        auto self = ctx->shared_from_this();
        auto state = state_;
        state_->transfer = start_([self, h, state](HttpResult result) mutable {
            // Runs on the executor already (the session's promise).
            if (auto shared = state->shared.lock()) shared->removeOnCancel(state->cancelId);
            state->result = std::move(result);
            if (self->alive()) h.resume();
        });
        state_->cancelId = ctx->shared->addOnCancel([state] { state->transfer.cancel(); });
        return true;
    }

    HttpResult await_resume() { return std::move(*state_->result); }

private:
    struct State {
        std::optional<HttpResult> result;
        TransferHandle transfer;
        std::uint64_t cancelId = 0;
        std::weak_ptr<quillant::detail::TaskShared> shared;
    };
    Start start_;
    std::shared_ptr<State> state_;
};

}  // namespace detail

// One data request from inside a task. The session must outlive the call.
Task<HttpResult> perform(HttpSession& session, HttpRequest request);

// One download from inside a task. The session must outlive the call.
Task<HttpResult> performDownload(HttpSession& session, HttpRequest request, std::filesystem::path destination);

}  // namespace quillant::backend
