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
    std::lock_guard lock(mutex_);
    return timers_.add(now_ + delay, std::move(work));
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

bool VirtualExecutor::fireNextTimer(std::optional<TimePoint> limit) {
    std::function<void()> work;
    {
        std::lock_guard lock(mutex_);
        auto next = timers_.nextDeadline();
        if (!next || (limit && *next > *limit)) return false;
        if (*next > now_) now_ = *next;
        work = std::move(*timers_.popDue(now_));
    }
    work();
    runUntilIdle();
    return true;
}

bool VirtualExecutor::advanceToNextTimer() {
    runUntilIdle();
    return fireNextTimer(std::nullopt);
}

void VirtualExecutor::advance(Duration by) {
    TimePoint target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + by;
    }
    runUntilIdle();
    while (fireNextTimer(target)) {
    }
    {
        std::lock_guard lock(mutex_);
        if (target > now_) now_ = target;
    }
    runUntilIdle();
}

bool VirtualExecutor::waitForPost(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return posted_cv_.wait_for(lock, limit, [&] { return !posted_.empty(); });
}

std::size_t VirtualExecutor::pendingTimers() const {
    std::lock_guard lock(mutex_);
    return timers_.pending();
}

}  // namespace quillant
