#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/UpdateEnvironment.h"
#include "backend/HttpSession.h"
#include "runtime/Logger.h"
#include "runtime/Task.h"

namespace quillant::app {

// The updater's failures of its own.
class UpdateError : public std::exception {
public:
    enum class Kind { unzipFailed, appNotFound };
    explicit UpdateError(Kind kind) : kind_(kind) {}
    Kind kind() const { return kind_; }
    const char* what() const noexcept override { return kind_ == Kind::unzipFailed ? "unzipFailed" : "appNotFound"; }

private:
    Kind kind_;
};

// Replaces the running self-contained installation with a release: downloads
// its archive into a fresh work folder, checks its signature, unpacks it and
// copies it beside the installation off the main thread, swaps the two
// folders in one step, starts the hand-over script and ends the program so
// that the script can remove the old folder and start the new one. On failure it says so, cleans the
// work folder up and leaves the installation as it was. Main thread only.
class Updater {
public:
    // Receives the texts the user sees while an update runs.
    using StatusSink = std::function<void(const std::string&)>;

    // `publicKey`: the key releases must be signed with (ReleasePublicKey's
    // form); empty or malformed, and no update is accepted. Only a release
    // newer than `runningVersion` is installed.
    Updater(std::shared_ptr<backend::HttpSession> session, WorkRunner& workRunner, UpdateEnvironment& environment,
            const CategoryLogger& log, StatusSink status, std::string publicKey, std::string runningVersion);

    // One attempt, from the archive at `url`, signed at `url` + ".sig".
    Task<void> run(std::string url);

    // The text the updater writes as its hand-over script. The new
    // installation is in BUNDLE.update-new; `exchanged`: the old one is,
    // the two having been swapped in one step already.
    static std::string installerScript(long pid, const std::filesystem::path& bundle, const std::filesystem::path& work,
                                       bool exchanged);
    // The file our install step puts in a self-contained installation folder;
    // the updater replaces only folders that carry it.
    static constexpr const char* kBundleMarker = ".quillant-bundle";
    // The file in a release's folder that holds its version (one line).
    static constexpr const char* kVersionFile = "VERSION";
    // What an update may unpack to at most, by its archive's own account.
    static constexpr std::uint64_t kMaxUnpackedBytes = std::uint64_t{512} << 20;

private:
    std::shared_ptr<backend::HttpSession> session_;
    WorkRunner& workRunner_;
    UpdateEnvironment& environment_;
    const CategoryLogger& log_;
    StatusSink status_;
    std::string publicKey_;
    std::string runningVersion_;
};

}  // namespace quillant::app
