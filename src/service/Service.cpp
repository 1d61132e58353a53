#include "service/Service.h"

#include "platform/linux/PrivateRuntimeDir.h"
#include "service/SocketFront.h"
#include "service/Speller.h"
#include "text/Text.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

namespace quillant::service {

namespace {

using nlohmann::json;

std::string toJson(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// A fixed set of workers with a bounded backlog: when it is full, accepting
// waits, and further connections wait in the kernel's listen queue.
class BoundedPool final : public httplib::TaskQueue {
public:
    BoundedPool(std::size_t workers, std::size_t maxQueued, std::function<void()> onIdle)
        : maxQueued_(maxQueued), onIdle_(std::move(onIdle)) {
        for (std::size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
    }

    void enqueue(std::function<void()> fn) override {
        std::unique_lock lock(mutex_);
        notFull_.wait(lock, [&] { return jobs_.size() < maxQueued_ || shutdown_; });
        jobs_.push_back(std::move(fn));
        notEmpty_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            shutdown_ = true;
        }
        notEmpty_.notify_all();
        notFull_.notify_all();
        for (auto& t : threads_) t.join();
    }

    void on_idle() override { onIdle_(); }

private:
    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                notEmpty_.wait(lock, [&] { return !jobs_.empty() || shutdown_; });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            notFull_.notify_one();
            job();
        }
    }

    std::size_t maxQueued_;
    std::function<void()> onIdle_;
    std::mutex mutex_;
    std::condition_variable notEmpty_, notFull_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    bool shutdown_ = false;
};

std::string describeWindow(std::chrono::seconds window) {
    switch (window.count()) {
        case 60: return "minute";
        case 3600: return "hour";
        case 86400: return "day";
        case 604800: return "week";
        default: return std::to_string(window.count()) + " seconds";
    }
}

bool startsWithNoCase(const std::string& s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

Service::Service(const ServiceConfig& config, KeyStore& keys, QuotaTracker& quota, Corrector& corrector, Logger& log)
    : config_(config),
      keys_(keys),
      quota_(quota),
      corrector_(corrector),
      log_(log, std::string(kLogSubsystem), "service"),
      random_(std::random_device{}()) {
    touch();
    auto front = std::make_unique<SocketFront>();
    // TLS ends in the front too, so that it bounds TLS connections as it does plain ones.
    if (config_.tls) front->useTls(config_.tls->certificate, config_.tls->privateKey);
    front_ = front.get();
    server_ = std::move(front);
    installRoutes();
}

Service::~Service() {
    stopping_ = true;
    server_->stop();
    if (front_) front_->stopUnix();
}

void Service::installRoutes() {
    auto& s = *server_;
    s.set_read_timeout(config_.ioTimeout);
    s.set_write_timeout(config_.ioTimeout);
    s.set_keep_alive_timeout(2);
    s.set_keep_alive_max_count(100);
    s.set_payload_max_length(config_.maxBodyBytes());
    // The accept loop wakes up now and then, so a stop() that came before it
    // started is not lost.
    s.set_idle_interval(std::chrono::milliseconds(500));
    std::size_t threads = config_.threads;
    s.new_task_queue = [this, threads] {
        return new BoundedPool(threads, threads * 8, [this] {
            if (stopping_) server_->stop();
        });
    };
    s.set_default_headers({{"Cache-Control", "no-store"}});
    // The library's default adds SO_REUSEPORT, which would let a second
    // service share the port unnoticed; refuse that.
    s.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    s.set_pre_routing_handler([this](const httplib::Request&, httplib::Response& res) {
        touch();
        requestId(res);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.Post("/v1/fix", [this](const httplib::Request& req, httplib::Response& res) { fix(req, res); });
    s.Get("/v1/validate", [this](const httplib::Request& req, httplib::Response& res) { validate(req, res); });
    s.Get("/v1/version", [this](const httplib::Request& req, httplib::Response& res) { version(req, res); });

    auto notAllowed = [this](std::string allow) {
        return [this, allow](const httplib::Request&, httplib::Response& res) {
            res.set_header("Allow", allow);
            sendError(res, 405, "method_not_allowed", "Use " + allow + " for this endpoint");
        };
    };
    s.Get("/v1/fix", notAllowed("POST"));
    s.Post("/v1/validate", notAllowed("GET"));
    s.Post("/v1/version", notAllowed("GET"));
    // The installed dictionaries, each a valid "language" of /v1/fix besides "auto".
    s.Get("/v1/languages", [this](const httplib::Request& req, httplib::Response& res) {
        if (!authenticate(req, res)) return;
        res.status = 200;
        res.set_content(toJson({{"languages", Speller::installedLanguages()}}), "application/json");
    });
    s.Post("/v1/languages", notAllowed("GET"));

    // Fills in an envelope for the answers the library makes by itself.
    s.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        switch (res.status) {
            case 404: sendError(res, 404, "not_found", "No such endpoint"); break;
            case 413:
                // The body alone is longer than the longest text can be.
                if (req.path == "/v1/fix")
                    sendError(res, 400, "text_too_long",
                              "The text is longer than " + std::to_string(config_.maxChars) + " characters");
                else
                    sendError(res, 413, "payload_too_large", "The request body is too large");
                break;
            case 414: sendError(res, 414, "uri_too_long", "The request line is too long"); break;
            case 400: sendError(res, 400, "bad_request", "The request could not be read"); break;
            default: sendError(res, res.status, "http_" + std::to_string(res.status), "HTTP " + std::to_string(res.status));
        }
        return httplib::Server::HandlerResponse::Handled;
    }));
    s.set_exception_handler([this](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        log_.error(requestId(res) + " internal error: " + what);
        sendError(res, 500, "internal_error", "The service failed to handle the request");
    });
    s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        touch();
        // The path arrives percent-decoded: keep control bytes out of the log.
        std::string path = req.path.substr(0, 100);
        for (char& c : path)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
        log_.info(req.method + " " + path + " " + std::to_string(res.status) + " " + res.get_header_value("X-Request-Id"));
    });
}

std::string Service::requestId(httplib::Response& res) {
    if (res.has_header("X-Request-Id")) return res.get_header_value("X-Request-Id");
    std::uint64_t n;
    {
        std::lock_guard lock(randomMutex_);
        n = random_();
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "req_%016llx", static_cast<unsigned long long>(n));
    res.set_header("X-Request-Id", buffer);
    return buffer;
}

void Service::sendError(httplib::Response& res, int status, const std::string& code, const std::string& message,
                        const std::optional<std::string>& resetAt) {
    json body = {{"error", code}, {"message", message}, {"request_id", requestId(res)}};
    if (resetAt) body["reset_at"] = *resetAt;
    res.status = status;
    res.set_content(toJson(body), "application/json");
}

std::optional<std::string> Service::authenticate(const httplib::Request& req, httplib::Response& res) {
    std::string header = req.get_header_value("Authorization");
    std::string token;
    if (startsWithNoCase(header, "bearer ")) token = text::trimmed(std::string_view(header).substr(7));
    if (token.empty()) {
        res.set_header("WWW-Authenticate", "Bearer realm=\"quillant\"");
        sendError(res, 401, "missing_key", "Send the API key as \"Authorization: Bearer <key>\"");
        return std::nullopt;
    }
    auto keyId = keys_.identify(token);
    if (!keyId) {
        res.set_header("WWW-Authenticate", "Bearer realm=\"quillant\", error=\"invalid_token\"");
        sendError(res, 403, "invalid_key", "The API key is not known to this service");
    }
    return keyId;
}

void Service::fix(const httplib::Request& req, httplib::Response& res) {
    auto keyId = authenticate(req, res);
    if (!keyId) return;
    json body = json::parse(req.body, nullptr, false);
    if (!body.is_object() || !body.contains("text") || !body["text"].is_string()) {
        sendError(res, 400, "invalid_request", "The body must be a JSON object with a string \"text\"");
        return;
    }
    const auto& text = body["text"].get_ref<const std::string&>();
    if (text::graphemeCount(text) > config_.maxChars) {
        sendError(res, 400, "text_too_long", "The text is longer than " + std::to_string(config_.maxChars) + " characters");
        return;
    }
    std::string language;  // empty: the service's own setting
    if (body.contains("language")) {
        auto installed = Speller::installedLanguages();
        const json& chosen = body["language"];
        if (!chosen.is_string() || (chosen != "auto" && !std::binary_search(installed.begin(), installed.end(),
                                                                            chosen.get<std::string>()))) {
            std::string names = "auto";
            for (const auto& name : installed) names += ", " + name;
            sendError(res, 400, "unknown_language", "The \"language\" must be one of: " + names);
            return;
        }
        language = chosen.get<std::string>();
    }
    auto ticket = quota_.acquire(*keyId);
    if (!ticket.granted) {
        res.set_header("Retry-After", std::to_string(std::max<std::int64_t>(1, ticket.untilReset.count())));
        sendError(res, 429, "quota_exceeded",
                  "The quota of " + std::to_string(quota_.policy().limit) +
                      (quota_.policy().limit == 1 ? " fix per " : " fixes per ") +
                      describeWindow(quota_.policy().window) + " is used up",
                  formatUtc(ticket.resetAt));
        return;
    }
    std::string id = requestId(res);
    if (config_.logText) log_.info(id + " text: " + text);
    try {
        // A language named in the request holds the offline rules to it; the
        // user's own choice (a model, with its note) otherwise.
        Correction corrected =
            language.empty() ? corrector_.correctNoted(text) : Correction{corrector_.correctIn(text, language), {}};
        if (config_.logText) log_.info(id + " corrected: " + corrected.text);
        json answer = {{"corrected", corrected.text}};
        if (!corrected.note.empty()) {
            log_.info(id + " " + corrected.note);
            answer["note"] = corrected.note;
        }
        res.status = 200;
        res.set_content(toJson(answer), "application/json");
    } catch (const CorrectionError& e) {
        quota_.refund(ticket);
        log_.error(id + " fix failed: " + e.code() + ": " + e.what());
        sendError(res, e.status(), e.code(), e.what());
    } catch (const std::exception& e) {
        quota_.refund(ticket);
        log_.error(id + " fix failed: " + e.what());
        sendError(res, 500, "internal_error", "The text could not be corrected");
    }
}

void Service::validate(const httplib::Request& req, httplib::Response& res) {
    if (!authenticate(req, res)) return;
    res.status = 200;
    res.set_content(toJson({{"valid", true}}), "application/json");
}

void Service::version(const httplib::Request&, httplib::Response& res) {
    if (!config_.release) {
        sendError(res, 404, "no_release", "This service announces no release");
        return;
    }
    res.status = 200;
    res.set_content(toJson({{"version", config_.release->version}, {"download_url", config_.release->downloadURL}}),
                    "application/json");
}

int Service::bind() {
    if (config_.socketPath) {
        if (config_.tls) throw std::runtime_error("TLS is served on TCP only");
        linux_platform::ensurePrivateFolder(config_.socketPath->parent_path());
        front_->bindUnix(*config_.socketPath);
        port_ = 0;
        return port_;
    }
    errno = 0;
    // TCP, plain or TLS, goes through the same bounding front as the socket.
    port_ = front_->bindTcp(config_.host, config_.port);
    if (port_ < 0)
        throw std::runtime_error("cannot listen on " + config_.host + ":" + std::to_string(config_.port) +
                                 (errno ? std::string(": ") + std::strerror(errno) : std::string()));
    return port_;
}

bool Service::run() {
    if (port_ < 0) throw std::logic_error("Service::run() before bind()");
    return stopping_ || front_->runUnix();
}

void Service::stop() {
    stopping_ = true;
    corrector_.shutdown();
    server_->stop();
    if (front_) front_->stopUnix();
}

std::string Service::handleRaw(std::string_view request) {
    if (config_.tls) throw std::logic_error("Service::handleRaw() with TLS");
    return front_->handleRaw(request);
}

std::string Service::baseURL() const {
    if (config_.socketPath) return config_.socketPath->string();
    std::string host = config_.host.find(':') != std::string::npos ? "[" + config_.host + "]" : config_.host;
    return std::string(config_.tls ? "https" : "http") + "://" + host + ":" + std::to_string(port_);
}

}  // namespace quillant::service
