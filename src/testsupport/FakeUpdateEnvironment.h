#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/UpdateEnvironment.h"
#include "platform/linux/FolderExchange.h"
#include "platform/linux/PosixProcess.h"

namespace quillant::testing {

// Real processes and files in folders the test chooses; termination and the
// detached launch are recorded instead of performed.
class FakeUpdateEnvironment final : public app::UpdateEnvironment {
public:
    std::filesystem::path temporaryDirectory() override { return tempDir; }
    std::filesystem::path bundlePath() override { return bundle; }
    long processIdentifier() override { return pid; }
    int runAndWait(const std::filesystem::path& program, const std::vector<std::string>& args) override {
        return linux_platform::runAndWait(program, args);
    }
    void launchDetached(const std::filesystem::path& program, const std::vector<std::string>& args) override {
        launched.emplace_back(program, args);
    }
    // Really swaps, unless told to act as a file system that cannot.
    std::error_code exchangeFolders(const std::filesystem::path& a, const std::filesystem::path& b) override {
        if (cannotExchange) return std::make_error_code(std::errc::invalid_argument);
        return std::error_code(linux_platform::exchangeFolders(a, b), std::generic_category());
    }
    void terminate() override { ++terminations; }

    std::filesystem::path tempDir;
    std::filesystem::path bundle;
    long pid = 4242;
    std::vector<std::pair<std::filesystem::path, std::vector<std::string>>> launched;
    int terminations = 0;
    bool cannotExchange = false;
};

}  // namespace quillant::testing
