#pragma once

#include <optional>

#include "runtime/Clock.h"

namespace quillant::linux_platform {

// A timerfd on CLOCK_BOOTTIME, armed for one absolute deadline at a time, so
// that a delay goes on counting while the machine sleeps. Readable when due.
class BoottimeTimerFd {
public:
    BoottimeTimerFd();
    ~BoottimeTimerFd();
    BoottimeTimerFd(const BoottimeTimerFd&) = delete;
    BoottimeTimerFd& operator=(const BoottimeTimerFd&) = delete;

    int fd() const { return fd_; }
    // Arms for `deadline` (continuous-clock time), or disarms for none.
    void arm(std::optional<TimePoint> deadline);
    // Clears the readable state after it fired.
    void drain();

private:
    int fd_ = -1;
};

}  // namespace quillant::linux_platform
