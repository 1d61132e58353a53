#pragma once

#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "backend/HttpSession.h"
#include "runtime/Executor.h"

namespace quillant::testing {

// A scripted HTTP session for logic tests. Replies come from a queue (then
// from the responder); each is delivered on the executor after its latency,
// on the executor's clock. Every request is recorded with the time it went out.
class FakeHttpSession final : public backend::HttpSession {
public:
    struct Reply {
        backend::HttpResult result;
        Duration latency{0};
        bool hang = false;  // never answers; only cancelling ends it
    };
    using Responder = std::function<Reply(const backend::HttpRequest&)>;

    struct Recorded {
        backend::HttpRequest request;
        TimePoint at;
        std::optional<std::filesystem::path> destination;
    };

    explicit FakeHttpSession(Executor& executor) : executor_(executor) {}

    static Reply answer(int status, std::string body, Duration latency = Duration::zero()) {
        backend::HttpResponse response;
        response.status = status;
        response.body = std::move(body);
        return Reply{std::move(response), latency, false};
    }
    static Reply failure(backend::TransportError::Kind kind, std::string description,
                         Duration latency = Duration::zero()) {
        return Reply{backend::TransportError{kind, std::move(description)}, latency, false};
    }
    static Reply hanging() { return Reply{backend::TransportError{}, Duration::zero(), true}; }

    void enqueue(Reply reply) { queue_.push_back(std::move(reply)); }
    void respond(int status, std::string body, Duration latency = Duration::zero()) {
        enqueue(answer(status, std::move(body), latency));
    }
    void setResponder(Responder responder) { responder_ = std::move(responder); }

    const std::vector<Recorded>& requests() const { return requests_; }

    // Drops every transfer that has not answered, without answering it. A
    // waiting task holds its transfer and the transfer its completion, so a
    // request that never answers would otherwise keep that task alive forever.
    void abandonPending() {
        auto pending = std::move(pending_);
        pending_.clear();
        for (auto& weak : pending) {
            if (auto p = weak.lock(); p && !p->done) {
                p->done = true;
                p->timer.cancel();
                auto completion = std::move(p->completion);
            }
        }
    }
    std::size_t cancelledCount() const { return *cancelled_; }

    backend::TransferHandle send(backend::HttpRequest request, Completion completion) override {
        return start(std::move(request), std::nullopt, std::move(completion));
    }

    backend::TransferHandle download(backend::HttpRequest request, std::filesystem::path destination,
                                     Completion completion) override {
        return start(std::move(request), std::move(destination), std::move(completion));
    }

private:
    struct Pending;
    std::vector<std::weak_ptr<Pending>> pending_;

    struct Pending {
        Completion completion;
        TimerHandle timer;
        bool done = false;
        bool cancelRequested = false;
    };

    static void finish(const std::shared_ptr<Pending>& p, backend::HttpResult result) {
        if (p->done) return;
        p->done = true;
        p->timer.cancel();
        auto completion = std::move(p->completion);
        completion(std::move(result));
    }

    Reply next(const backend::HttpRequest& request) {
        if (!queue_.empty()) {
            Reply reply = std::move(queue_.front());
            queue_.pop_front();
            return reply;
        }
        if (responder_) return responder_(request);
        return failure(backend::TransportError::Kind::other, "no scripted reply");
    }

    backend::TransferHandle start(backend::HttpRequest request, std::optional<std::filesystem::path> destination,
                                  Completion completion) {
        Reply reply = next(request);
        requests_.push_back(Recorded{request, executor_.now(), destination});
        auto pending = std::make_shared<Pending>();
        pending->completion = std::move(completion);
        pending_.push_back(pending);

        if (auto* response = std::get_if<backend::HttpResponse>(&reply.result); response && destination) {
            std::ofstream(*destination, std::ios::binary | std::ios::trunc) << response->body;
            response->body.clear();
        }
        if (!reply.hang) {
            pending->timer = executor_.schedule(reply.latency, [pending, result = std::move(reply.result)]() mutable {
                finish(pending, std::move(result));
            });
        }
        Executor* executor = &executor_;
        auto cancelled = cancelled_;
        return backend::TransferHandle([executor, pending, cancelled] {
            if (pending->done || pending->cancelRequested) return;
            pending->cancelRequested = true;
            pending->timer.cancel();
            ++*cancelled;
            executor->post([pending] {
                finish(pending, backend::TransportError{backend::TransportError::Kind::cancelled, "Request cancelled"});
            });
        });
    }

    Executor& executor_;
    std::deque<Reply> queue_;
    Responder responder_;
    std::vector<Recorded> requests_;
    std::shared_ptr<std::size_t> cancelled_ = std::make_shared<std::size_t>(0);
};

}  // namespace quillant::testing
