#include "platform/linux/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace quillant::linux_platform {

RunLoop::RunLoop() {
    eventFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    timerFd_ = timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK);
    if (eventFd_ < 0 || timerFd_ < 0) throw std::system_error(errno, std::generic_category(), "run loop");
}

RunLoop::~RunLoop() {
    close(eventFd_);
    close(timerFd_);
}

void RunLoop::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
    }
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(eventFd_, &one, sizeof one);
}

TimerHandle RunLoop::schedule(Duration delay, std::function<void()> work) {
    if (delay < Duration::zero()) delay = Duration::zero();
    auto state = std::make_shared<detail::TimerState>();
    {
        std::lock_guard lock(mutex_);
        timers_.emplace(std::make_pair(now() + delay, sequence_++), Timer{state, std::move(work)});
    }
    armTimerFd();
    return TimerHandle(state);
}

TimePoint RunLoop::now() const { return ContinuousClock::now(); }

void RunLoop::armTimerFd() {
    std::lock_guard lock(mutex_);
    while (!timers_.empty() && timers_.begin()->second.state->cancelled) timers_.erase(timers_.begin());
    itimerspec spec{};
    if (!timers_.empty()) {
        auto ns = timers_.begin()->first.first.time_since_epoch().count();
        if (ns <= 0) ns = 1;
        spec.it_value.tv_sec = ns / 1'000'000'000;
        spec.it_value.tv_nsec = ns % 1'000'000'000;
    }
    timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void RunLoop::runPosted() {
    std::uint64_t value;
    [[maybe_unused]] auto n = ::read(eventFd_, &value, sizeof value);
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) return;
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        work();
    }
}

void RunLoop::runDueTimers() {
    std::uint64_t expirations;
    [[maybe_unused]] auto n = ::read(timerFd_, &expirations, sizeof expirations);
    for (;;) {
        Timer timer;
        {
            std::lock_guard lock(mutex_);
            while (!timers_.empty() && timers_.begin()->second.state->cancelled) timers_.erase(timers_.begin());
            if (timers_.empty() || timers_.begin()->first.first > now()) break;
            timer = std::move(timers_.begin()->second);
            timers_.erase(timers_.begin());
        }
        timer.state->fired = true;
        timer.work();
    }
    armTimerFd();
}

void RunLoop::runOnce(int timeoutMs) {
    std::vector<pollfd> fds{{eventFd_, POLLIN, 0}, {timerFd_, POLLIN, 0}};
    std::vector<int> watchedFds;
    for (auto& [fd, fn] : watched_) {
        fds.push_back({fd, POLLIN, 0});
        watchedFds.push_back(fd);
    }
    int r = ::poll(fds.data(), fds.size(), timeoutMs);
    if (r < 0) {
        if (errno == EINTR) return;
        throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (fds[0].revents) runPosted();
    if (fds[1].revents) runDueTimers();
    for (std::size_t i = 2; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        auto it = watched_.find(fds[i].fd);
        if (it != watched_.end()) {
            auto fn = it->second;
            fn();
        }
    }
}

void RunLoop::run() {
    quit_ = false;
    while (!quit_) runOnce(-1);
}

void RunLoop::quit() {
    quit_ = true;
    post([] {});
}

bool RunLoop::runUntil(const std::function<bool()>& done, Duration limit) {
    auto deadline = now() + limit;
    runPosted();
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now()).count();
        if (left <= 0) return done();
        runOnce(int(std::min<long long>(left, 1000)));
    }
    return true;
}

void RunLoop::watchReadable(int fd, std::function<void()> onReadable) { watched_[fd] = std::move(onReadable); }

void RunLoop::unwatch(int fd) { watched_.erase(fd); }

}  // namespace quillant::linux_platform
