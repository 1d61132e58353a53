#include "platform/linux/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace quillant::linux_platform {

RunLoop::RunLoop() {
    eventFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (eventFd_ < 0) throw std::system_error(errno, std::generic_category(), "run loop");
}

RunLoop::~RunLoop() {
    close(eventFd_);
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
    TimerHandle handle;
    {
        std::lock_guard lock(mutex_);
        handle = timers_.add(now() + delay, std::move(work));
    }
    armTimerFd();
    return handle;
}

TimePoint RunLoop::now() const { return ContinuousClock::now(); }

void RunLoop::armTimerFd() {
    std::lock_guard lock(mutex_);
    timerFd_.arm(timers_.nextDeadline());
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
    timerFd_.drain();
    for (;;) {
        std::optional<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            work = timers_.popDue(now());
        }
        if (!work) break;
        (*work)();
    }
    armTimerFd();
}

void RunLoop::runOnce(int timeoutMs) {
    std::vector<pollfd> fds{{eventFd_, POLLIN, 0}, {timerFd_.fd(), POLLIN, 0}};
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
