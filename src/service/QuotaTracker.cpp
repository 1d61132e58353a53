#include "service/QuotaTracker.h"

#include <ctime>
#include <stdexcept>

namespace quillant::service {

namespace {
std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
}  // namespace

QuotaTracker::QuotaTracker(QuotaPolicy policy, WallClockSource now) : policy_(policy), now_(std::move(now)) {
    if (policy_.window.count() <= 0) throw std::invalid_argument("the quota window must be positive");
}

QuotaTracker::Ticket QuotaTracker::acquire(const std::string& keyId) {
    WallTime now = now_();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    std::int64_t length = policy_.window.count();
    std::int64_t window = floorDiv(seconds, length);
    WallTime resetAt{std::chrono::seconds((window + 1) * length)};
    auto untilReset = std::chrono::ceil<std::chrono::seconds>(resetAt - now);
    Ticket ticket{false, resetAt, untilReset, keyId, window};
    if (policy_.limit == 0) {
        ticket.granted = true;
        return ticket;
    }
    std::lock_guard lock(mutex_);
    Usage& usage = usage_[keyId];
    if (usage.window != window) usage = {window, 0};
    if (usage.used >= policy_.limit) return ticket;
    ++usage.used;
    ticket.granted = true;
    return ticket;
}

void QuotaTracker::refund(const Ticket& ticket) {
    if (!ticket.granted || policy_.limit == 0) return;
    std::lock_guard lock(mutex_);
    auto it = usage_.find(ticket.keyId);
    if (it != usage_.end() && it->second.window == ticket.window && it->second.used > 0) --it->second.used;
}

std::string formatUtc(WallTime time) {
    std::time_t t = WallClock::to_time_t(time);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}

}  // namespace quillant::service
