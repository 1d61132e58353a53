#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "platform/linux/BoottimeTimerFd.h"
#include "runtime/Executor.h"
#include "runtime/TimerQueue.h"

namespace quillant::linux_platform {

// A single-threaded run loop for the command-line tools and integration
// tests: posted work through an eventfd, timers through one timerfd on
// CLOCK_BOOTTIME. Sleeps in poll() while idle.
class RunLoop final : public Executor {
public:
    RunLoop();
    ~RunLoop() override;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    void post(std::function<void()> work) override;
    TimerHandle schedule(Duration delay, std::function<void()> work) override;
    TimePoint now() const override;

    // Runs until quit() is called (from any thread).
    void run();
    void quit();

    // Runs until `done` holds or the real-time limit passes; true if it held.
    bool runUntil(const std::function<bool()>& done, Duration limit);

    // An extra descriptor watched by the loop; `onReadable` runs on the loop's thread.
    void watchReadable(int fd, std::function<void()> onReadable);
    void unwatch(int fd);

private:
    void runOnce(int timeoutMs);
    void armTimerFd();
    void runPosted();
    void runDueTimers();

    int eventFd_ = -1;
    BoottimeTimerFd timerFd_;
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    TimerQueue timers_;
    std::map<int, std::function<void()>> watched_;
    std::atomic<bool> quit_{false};
};

}  // namespace quillant::linux_platform
