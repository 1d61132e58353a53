#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "runtime/Clock.h"

namespace quillant {

namespace detail {
struct TimerState {
    std::atomic<bool> cancelled{false};
    std::atomic<bool> fired{false};
};
}  // namespace detail

// A scheduled piece of delayed work. Cancelling is idempotent; a cancelled
// timer never runs, and a replaced handle cancels nothing by itself.
class TimerHandle {
public:
    TimerHandle() = default;
    explicit TimerHandle(std::shared_ptr<detail::TimerState> state) : state_(std::move(state)) {}

    void cancel() {
        if (state_) state_->cancelled = true;
    }
    bool pending() const { return state_ && !state_->cancelled && !state_->fired; }

private:
    std::shared_ptr<detail::TimerState> state_;
};

// The main thread's executor. All coordinator state lives on the thread that
// runs it; other threads hand results back through post().
class Executor {
public:
    virtual ~Executor() = default;

    // Thread-safe; work runs on the executor's thread, in posting order.
    virtual void post(std::function<void()> work) = 0;

    // Executor thread only. The delay is measured on the continuous clock.
    virtual TimerHandle schedule(Duration delay, std::function<void()> work) = 0;

    virtual TimePoint now() const = 0;
};

}  // namespace quillant
