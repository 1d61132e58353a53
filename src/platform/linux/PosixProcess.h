#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/UpdateEnvironment.h"

namespace quillant::linux_platform {

// Runs a program and waits for it; returns its exit status (128 + signal when
// killed). Throws std::system_error when it cannot be started. Children get
// /dev/null as standard input.
int runAndWait(const std::filesystem::path& program, const std::vector<std::string>& args);

// Starts a program in its own session, not waited for: it outlives us.
void launchDetached(const std::filesystem::path& program, const std::vector<std::string>& args);

// $TMPDIR when it is an absolute path, else /tmp.
std::filesystem::path temporaryDirectory();

// The installation folder: the parent of the folder holding our executable.
std::filesystem::path installationFolder();

// The updater's services on Linux; `terminate` quits the application.
class PosixUpdateEnvironment final : public app::UpdateEnvironment {
public:
    explicit PosixUpdateEnvironment(std::function<void()> terminate) : terminate_(std::move(terminate)) {}

    std::filesystem::path temporaryDirectory() override;
    std::filesystem::path bundlePath() override;
    long processIdentifier() override;
    int runAndWait(const std::filesystem::path& program, const std::vector<std::string>& args) override;
    void launchDetached(const std::filesystem::path& program, const std::vector<std::string>& args) override;
    std::error_code exchangeFolders(const std::filesystem::path& a, const std::filesystem::path& b) override;
    void terminate() override { terminate_(); }

private:
    std::function<void()> terminate_;
};

}  // namespace quillant::linux_platform
