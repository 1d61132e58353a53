#pragma once

#include "runtime/Logger.h"
#include "service/Config.h"
#include "service/Corrector.h"
#include "service/KeyStore.h"
#include "service/QuotaTracker.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace quillant::service {

class SocketFront;

// The HTTP(S) front: /v1/fix, /v1/validate and /v1/version with the error
// envelope {"error", "message", "request_id", "reset_at"}. Every answer
// carries an X-Request-Id header.
class Service {
public:
    // Throws std::runtime_error when the TLS certificate or key cannot be used.
    Service(const ServiceConfig& config, KeyStore& keys, QuotaTracker& quota, Corrector& corrector, Logger& log);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Opens the listening socket and returns its port (0 on a Unix socket,
    // whose private folder is made or checked first). Throws std::runtime_error.
    int bind();
    // Serves until stop(); needs bind() first. False when accepting failed.
    bool run();
    // From any thread, also before run() has started.
    void stop();

    // When the last request began or ended (the construction, before any).
    std::chrono::steady_clock::time_point lastActivity() const {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastActivity_.load()));
    }

    // "http://127.0.0.1:8787" or "https://…", with the bound port; the
    // socket's path when serving on a Unix socket.
    std::string baseURL() const;

    // The answer to raw request bytes, as it would go out on a connection
    // (not with TLS). For tests and fuzzing.
    std::string handleRaw(std::string_view request);

private:
    void installRoutes();
    void fix(const httplib::Request& req, httplib::Response& res);
    void validate(const httplib::Request& req, httplib::Response& res);
    void version(const httplib::Request& req, httplib::Response& res);
    std::optional<std::string> authenticate(const httplib::Request& req, httplib::Response& res);
    std::string requestId(httplib::Response& res);
    void sendError(httplib::Response& res, int status, const std::string& code, const std::string& message,
                   const std::optional<std::string>& resetAt = std::nullopt);

    ServiceConfig config_;
    KeyStore& keys_;
    QuotaTracker& quota_;
    Corrector& corrector_;
    CategoryLogger log_;
    std::unique_ptr<httplib::Server> server_;
    SocketFront* front_ = nullptr;  // server_, as the front that bounds every request
    std::atomic<bool> stopping_{false};
    std::atomic<std::chrono::steady_clock::rep> lastActivity_;
    void touch() { lastActivity_ = std::chrono::steady_clock::now().time_since_epoch().count(); }
    int port_ = -1;
    std::mutex randomMutex_;
    std::mt19937_64 random_;
};

}  // namespace quillant::service
