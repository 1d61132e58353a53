#include "platform/linux/BoottimeTimerFd.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace quillant::linux_platform {

BoottimeTimerFd::BoottimeTimerFd() {
    fd_ = timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "timerfd");
}

BoottimeTimerFd::~BoottimeTimerFd() { ::close(fd_); }

void BoottimeTimerFd::arm(std::optional<TimePoint> deadline) {
    itimerspec spec{};
    if (deadline) {
        auto ns = deadline->time_since_epoch().count();
        if (ns <= 0) ns = 1;  // zero would disarm
        spec.it_value.tv_sec = ns / 1'000'000'000;
        spec.it_value.tv_nsec = ns % 1'000'000'000;
    }
    timerfd_settime(fd_, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void BoottimeTimerFd::drain() {
    std::uint64_t expirations;
    [[maybe_unused]] auto n = ::read(fd_, &expirations, sizeof expirations);
}

}  // namespace quillant::linux_platform
