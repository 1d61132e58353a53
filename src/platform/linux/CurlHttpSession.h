#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "backend/BackendProtocol.h"
#include "backend/HttpSession.h"
#include "runtime/Executor.h"

namespace quillant::linux_platform {

// The HTTP session over libcurl: one worker thread drives a multi handle, so
// connections and TLS sessions are reused across requests; completions are
// posted to the executor. TLS peers are always verified.
class CurlHttpSession final : public backend::HttpSession {
public:
    struct Options {
        // Trusted in addition to the system's certificate authorities.
        std::optional<std::filesystem::path> extraCAFile;
        std::size_t maxBodyBytes = backend::kMaxResponseBodyBytes;
        std::uint64_t maxDownloadBytes = std::uint64_t{512} << 20;
        std::string userAgent = "quillant";
    };

    // The executor must outlive the session.
    explicit CurlHttpSession(Executor& executor);
    CurlHttpSession(Executor& executor, Options options);
    // Cancels what is still running (each completes with `cancelled`) and joins the worker.
    ~CurlHttpSession() override;
    CurlHttpSession(const CurlHttpSession&) = delete;
    CurlHttpSession& operator=(const CurlHttpSession&) = delete;

    backend::TransferHandle send(backend::HttpRequest request, Completion completion) override;
    backend::TransferHandle download(backend::HttpRequest request, std::filesystem::path destination,
                                     Completion completion) override;

    struct Core;

private:
    backend::TransferHandle submit(backend::HttpRequest request, std::optional<std::filesystem::path> destination,
                                   Completion completion);

    std::shared_ptr<Core> core_;
    std::thread worker_;
};

}  // namespace quillant::linux_platform
