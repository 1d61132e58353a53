#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace quillant::service {

using WallClock = std::chrono::system_clock;
using WallTime = WallClock::time_point;
using WallClockSource = std::function<WallTime()>;

struct QuotaPolicy {
    std::uint64_t limit = 1000;                // fixes per key and window; 0 = no limit
    std::chrono::seconds window{24 * 60 * 60};  // windows start at multiples of this since the epoch (UTC)
};

// Counts each key's fixes in fixed windows (by default one per UTC day).
// Counts live in memory and start afresh when the service restarts.
class QuotaTracker {
public:
    QuotaTracker(QuotaPolicy policy, WallClockSource now);

    struct Ticket {
        bool granted = false;
        WallTime resetAt;  // end of the current window
        std::chrono::seconds untilReset{0};
        std::string keyId;
        std::int64_t window = 0;
    };

    // Takes one use of the key's quota if any is left.
    Ticket acquire(const std::string& keyId);
    // Gives back a granted use that produced nothing (the correction failed).
    void refund(const Ticket& ticket);

    const QuotaPolicy& policy() const { return policy_; }

private:
    struct Usage {
        std::int64_t window = -1;
        std::uint64_t used = 0;
    };

    QuotaPolicy policy_;
    WallClockSource now_;
    std::mutex mutex_;
    std::unordered_map<std::string, Usage> usage_;
};

// "2024-05-01T00:00:00Z"
std::string formatUtc(WallTime time);

}  // namespace quillant::service
