#include "runtime/VirtualExecutor.h"

namespace quillant {

VirtualExecutor::VirtualExecutor() : start_(TimePoint(std::chrono::hours(1))), now_(start_) {}

VirtualExecutor::~VirtualExecutor() = default;

void VirtualExecutor::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
    }
    posted_cv_.notify_all();
}

TimerHandle VirtualExecutor::schedule(Duration delay, std::function<void()> work) {
    if (delay < Duration::zero()) delay = Duration::zero();
    auto state = std::make_shared<detail::TimerState>();
    std::lock_guard lock(mutex_);
    timers_.emplace(std::make_pair(now_ + delay, sequence_++), Timer{state, std::move(work)});
    return TimerHandle(state);
}

TimePoint VirtualExecutor::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

bool VirtualExecutor::popPosted(std::function<void()>& out) {
    std::lock_guard lock(mutex_);
    if (posted_.empty()) return false;
    out = std::move(posted_.front());
    posted_.pop_front();
    return true;
}

std::size_t VirtualExecutor::runUntilIdle() {
    std::size_t count = 0;
    std::function<void()> work;
    while (popPosted(work)) {
        work();
        ++count;
    }
    return count;
}

bool VirtualExecutor::advanceToNextTimer() {
    runUntilIdle();
    Timer timer;
    {
        std::lock_guard lock(mutex_);
        // Cancelled timers are dropped without moving time.
        while (!timers_.empty() && timers_.begin()->second.state->cancelled) timers_.erase(timers_.begin());
        if (timers_.empty()) return false;
        auto it = timers_.begin();
        if (it->first.first > now_) now_ = it->first.first;
        timer = std::move(it->second);
        timers_.erase(it);
    }
    timer.state->fired = true;
    timer.work();
    runUntilIdle();
    return true;
}

void VirtualExecutor::advance(Duration by) {
    TimePoint target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + by;
    }
    runUntilIdle();
    for (;;) {
        Timer timer;
        {
            std::lock_guard lock(mutex_);
            while (!timers_.empty() && timers_.begin()->second.state->cancelled) timers_.erase(timers_.begin());
            if (timers_.empty() || timers_.begin()->first.first > target) {
                now_ = target;
                break;
            }
            auto it = timers_.begin();
            if (it->first.first > now_) now_ = it->first.first;
            timer = std::move(it->second);
            timers_.erase(it);
        }
        timer.state->fired = true;
        timer.work();
        runUntilIdle();
    }
    runUntilIdle();
}

bool VirtualExecutor::waitForPost(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return posted_cv_.wait_for(lock, limit, [&] { return !posted_.empty(); });
}

std::size_t VirtualExecutor::pendingTimers() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& [key, timer] : timers_)
        if (!timer.state->cancelled) ++n;
    return n;
}

}  // namespace quillant
