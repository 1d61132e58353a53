#include "ServiceTestSupport.h"

#include <ctime>

namespace quillant::service::testing {

WallTime sampleTime() {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 4;
    tm.tm_mday = 1;
    tm.tm_hour = 10;
    tm.tm_min = 30;
    return WallClock::from_time_t(timegm(&tm));
}

RunningService::RunningService(const ServiceConfig& config, KeyStore& keys, QuotaTracker& quota, Corrector& corrector,
                               Logger& log)
    : service_(config, keys, quota, corrector, log), port_(service_.bind()), thread_([this] { service_.run(); }) {}

RunningService::~RunningService() { stop(); }

void RunningService::stop() {
    if (stopped_) return;
    stopped_ = true;
    service_.stop();
    thread_.join();
}

Answer toAnswer(const httplib::Result& result) {
    if (!result) return {-1, "transport error: " + httplib::to_string(result.error()), {}};
    return {result->status, result->body, result->headers};
}

std::string fixBody(const std::string& text) { return nlohmann::json{{"text", text}}.dump(); }

}  // namespace quillant::service::testing
