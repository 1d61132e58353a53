#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "backend/LocalServiceStarter.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// How the local corrector is started.
struct LocalServiceCommand {
    std::filesystem::path executable;  // quillant-service
    std::filesystem::path socket;      // in the user's private runtime folder
    std::filesystem::path keysFile;    // the keys it accepts
    std::filesystem::path userConfig;  // quillant's settings folder, which it reads its choices from
    // It stops by itself after this long without a request, so that an idle
    // quillant keeps no corrector (and its dictionary) in memory.
    std::chrono::seconds idleExit{60};
};

// quillant-service started on demand, detached in a session of its own, its
// standard error in the journal. It never outlives its usefulness by more than
// the idle delay, one that died is started at the next need, and when several
// of ours start it at once the service's own lock lets one serve.
class LocalServiceProcess final : public backend::LocalServiceStarter {
public:
    LocalServiceProcess(LocalServiceCommand command, Logger& log);

    Task<std::optional<std::string>> ensureRunning() override;

private:
    bool start(std::string& error);

    LocalServiceCommand command_;
    CategoryLogger log_;
    std::optional<std::chrono::steady_clock::time_point> startedAt_;
};

// How quillant starts its local corrector: the service found beside
// `ownExecutable` (else where an installation would have it, so that the
// error names it), on `socket`, with the keys file and the settings in
// quillant's `configDirectory`.
LocalServiceCommand localServiceCommand(const std::filesystem::path& ownExecutable, const std::filesystem::path& socket,
                                        const std::filesystem::path& configDirectory);

// quillant-service beside `ownExecutable`, else in a build tree's
// src/service/ (a checkout's program); none when neither is there.
std::optional<std::filesystem::path> findLocalService(const std::filesystem::path& ownExecutable);

// The key quillant uses with its local corrector, made on first use: kept
// with TokenStore's rules in `keyStoreFile`'s place and listed in the
// corrector's `keysFile` (created 0600 in a 0700 folder). Two quillants
// provisioning at once agree on one key. None (with `error`) when a file
// cannot be written; the key is never logged.
std::optional<std::string> provisionLocalKey(const std::filesystem::path& home, const std::filesystem::path& keysFile,
                                             std::string& error);

// The name of the local key's file in quillant's folder beside the API key's.
inline constexpr const char* kLocalKeyFileName = "local-key";

}  // namespace quillant::linux_platform
