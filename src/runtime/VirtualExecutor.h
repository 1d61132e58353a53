#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <optional>
#include <mutex>

#include "runtime/Executor.h"
#include "runtime/TimerQueue.h"

namespace quillant {

// Deterministic executor for unit tests: time moves only when the test says
// so, and timers fire in deadline order (ties in scheduling order).
class VirtualExecutor final : public Executor {
public:
    VirtualExecutor();
    ~VirtualExecutor() override;

    void post(std::function<void()> work) override;
    TimerHandle schedule(Duration delay, std::function<void()> work) override;
    TimePoint now() const override;

    // Runs posted work (and work it posts) without moving time. Returns the count run.
    std::size_t runUntilIdle();

    // Moves time forward by `by`, firing each due timer at its own deadline.
    void advance(Duration by);

    // Moves time to the next timer's deadline and fires it; false if none.
    bool advanceToNextTimer();

    // Runs until `done` holds, moving virtual time as needed; false if nothing
    // is left to run (a task waiting on a real thread uses waitForPost).
    template <class Pred>
    bool runUntil(Pred done) {
        for (;;) {
            runUntilIdle();
            if (done()) return true;
            if (!advanceToNextTimer()) return done();
        }
    }

    // Blocks until another thread posts work or the real-time limit passes.
    // For the few tests that hop through a real background thread.
    bool waitForPost(std::chrono::milliseconds limit);

    std::size_t pendingTimers() const;
    Duration elapsed() const { return now_ - start_; }

private:
    bool popPosted(std::function<void()>& out);
    // Fires the earliest timer due by `limit` at its own deadline; false if none.
    bool fireNextTimer(std::optional<TimePoint> limit);

    mutable std::mutex mutex_;
    std::condition_variable posted_cv_;
    std::deque<std::function<void()>> posted_;
    TimerQueue timers_;
    TimePoint start_;
    TimePoint now_;
};

}  // namespace quillant
