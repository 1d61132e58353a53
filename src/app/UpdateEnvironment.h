#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace quillant::app {

// The process and file-system services the updater needs from the platform.
class UpdateEnvironment {
public:
    virtual ~UpdateEnvironment() = default;

    virtual std::filesystem::path temporaryDirectory() = 0;
    // The running installation ("bundle"): the folder that holds bin/quillant.
    virtual std::filesystem::path bundlePath() = 0;
    virtual long processIdentifier() = 0;

    // Runs a program and waits for it; returns its exit status. Throws
    // std::system_error when it cannot be started. Called off the main thread.
    virtual int runAndWait(const std::filesystem::path& program, const std::vector<std::string>& args) = 0;
    // Starts a program that outlives us. Throws std::system_error on failure.
    virtual void launchDetached(const std::filesystem::path& program, const std::vector<std::string>& args) = 0;
    // Swaps the folders at `a` and `b` in one step, so that `b` never stops
    // existing, and makes the swap durable. An error with
    // std::errc::invalid_argument, function_not_supported or
    // operation_not_supported: the file system cannot, nothing changed.
    virtual std::error_code exchangeFolders(const std::filesystem::path& a, const std::filesystem::path& b) = 0;
    // Ends the application (after the current main-thread work).
    virtual void terminate() = 0;
};

}  // namespace quillant::app
