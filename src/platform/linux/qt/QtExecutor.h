#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "runtime/Executor.h"

class QObject;
class QSocketNotifier;

namespace quillant::linux_platform {

// The main-thread executor of the desktop program: work runs on the Qt event
// loop of the thread that created it. Timers run on CLOCK_BOOTTIME through a
// timerfd, so that a delay includes time spent in suspend (Qt's own timers
// stop while the machine sleeps). Also hooks descriptors (the X connections)
// into the loop.
class QtExecutor final : public Executor {
public:
    QtExecutor();
    ~QtExecutor() override;
    QtExecutor(const QtExecutor&) = delete;
    QtExecutor& operator=(const QtExecutor&) = delete;

    void post(std::function<void()> work) override;
    TimerHandle schedule(Duration delay, std::function<void()> work) override;
    TimePoint now() const override;

    // Calls `onReadable` on the loop's thread whenever `fd` is readable,
    // until unwatch(fd). Loop thread only.
    void watchReadable(int fd, std::function<void()> onReadable);
    void unwatch(int fd);

private:
    struct Timer {
        std::shared_ptr<detail::TimerState> state;
        std::function<void()> work;
    };
    void armTimerFd();
    void runDueTimers();

    std::unique_ptr<QObject> context_;
    int timerFd_ = -1;
    std::unique_ptr<QSocketNotifier> timerNotifier_;
    std::multimap<std::pair<TimePoint, std::uint64_t>, Timer> timers_;
    std::uint64_t sequence_ = 0;
    std::map<int, std::unique_ptr<QSocketNotifier>> watched_;
};

}  // namespace quillant::linux_platform
