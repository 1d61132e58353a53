#include "runtime/Clock.h"

#include <time.h>

namespace quillant {

ContinuousClock::time_point ContinuousClock::now() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return time_point(duration(std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec));
}

}  // namespace quillant
