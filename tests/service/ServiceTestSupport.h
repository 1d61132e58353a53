#pragma once

#include "service/Service.h"
#include "testsupport/TempDir.h"
#include "testsupport/TestCertificate.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace quillant::service::testing {

using quillant::testing::readFile;
using quillant::testing::TempDir;
using quillant::testing::writeFile;
using quillant::testing::writeSelfSignedCertificate;

// A wall clock the test sets by hand.
class ManualClock {
public:
    explicit ManualClock(WallTime start) : seconds_(std::chrono::duration_cast<std::chrono::seconds>(start.time_since_epoch()).count()) {}
    WallClockSource source() {
        return [this] { return WallTime(std::chrono::seconds(seconds_.load())); };
    }
    void set(WallTime t) { seconds_ = std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count(); }
    void advance(std::chrono::seconds d) { seconds_ += d.count(); }

private:
    std::atomic<std::int64_t> seconds_;
};

// 2024-05-01T10:30:00Z
WallTime sampleTime();

// Runs a Service on its own thread, on a free loopback port.
class RunningService {
public:
    RunningService(const ServiceConfig& config, KeyStore& keys, QuotaTracker& quota, Corrector& corrector, Logger& log);
    ~RunningService();
    int port() const { return port_; }
    std::string baseURL() const { return service_.baseURL(); }
    void stop();

private:
    Service service_;
    int port_;
    std::thread thread_;
    bool stopped_ = false;
};

// An answer as the client sees it.
struct Answer {
    int status = 0;
    std::string body;
    httplib::Headers headers;
    nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
    std::string header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

Answer toAnswer(const httplib::Result& result);

std::string fixBody(const std::string& text);

}  // namespace quillant::service::testing
