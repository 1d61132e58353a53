#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/linux/BoottimeTimerFd.h"
#include "runtime/Executor.h"
#include "runtime/TimerQueue.h"

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
    void armTimerFd();
    void runDueTimers();

    std::unique_ptr<QObject> context_;
    BoottimeTimerFd timerFd_;
    std::unique_ptr<QSocketNotifier> timerNotifier_;
    TimerQueue timers_;
    std::map<int, std::unique_ptr<QSocketNotifier>> watched_;
};

}  // namespace quillant::linux_platform
