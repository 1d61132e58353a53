#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "runtime/Executor.h"

namespace quillant {

// Timers in deadline order (ties in the order they were added); the shared
// core of every executor. Not thread-safe: the owner locks if it must.
class TimerQueue {
public:
    TimerHandle add(TimePoint deadline, std::function<void()> work) {
        auto state = std::make_shared<detail::TimerState>();
        timers_.emplace(std::make_pair(deadline, sequence_++), Timer{state, std::move(work)});
        return TimerHandle(state);
    }

    // The earliest deadline of a timer that is still wanted.
    std::optional<TimePoint> nextDeadline() {
        dropCancelled();
        if (timers_.empty()) return std::nullopt;
        return timers_.begin()->first.first;
    }

    // Takes the earliest timer if it is due at `now`, marked as fired.
    std::optional<std::function<void()>> popDue(TimePoint now) {
        dropCancelled();
        if (timers_.empty() || timers_.begin()->first.first > now) return std::nullopt;
        Timer timer = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        timer.state->fired = true;
        return std::move(timer.work);
    }

    std::size_t pending() const {
        std::size_t n = 0;
        for (const auto& [key, timer] : timers_)
            if (!timer.state->cancelled) ++n;
        return n;
    }

private:
    struct Timer {
        std::shared_ptr<detail::TimerState> state;
        std::function<void()> work;
    };
    void dropCancelled() {
        while (!timers_.empty() && timers_.begin()->second.state->cancelled) timers_.erase(timers_.begin());
    }

    std::multimap<std::pair<TimePoint, std::uint64_t>, Timer> timers_;
    std::uint64_t sequence_ = 0;
};

}  // namespace quillant
