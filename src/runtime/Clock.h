#pragma once

#include <chrono>
#include <cstdint>

namespace quillant {

// Monotonic and advancing while the computer sleeps (CLOCK_BOOTTIME on Linux),
// so a 1.5 s glyph flash does not outlive a suspend.
struct ContinuousClock {
    using rep = std::int64_t;
    using period = std::nano;
    using duration = std::chrono::nanoseconds;
    using time_point = std::chrono::time_point<ContinuousClock, duration>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept;
};

using Duration = std::chrono::nanoseconds;
using TimePoint = ContinuousClock::time_point;

}  // namespace quillant
