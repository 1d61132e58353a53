#pragma once

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

namespace quillant::testing {

// Looks at the mode of a file in `folder` each time one is created, written,
// closed, renamed in or has its mode changed, from construction until stop():
// a file that was ever readable by others shows up in what stop() returns.
class FolderModeWatcher {
public:
    explicit FolderModeWatcher(const std::filesystem::path& folder);
    ~FolderModeWatcher();
    FolderModeWatcher(const FolderModeWatcher&) = delete;
    FolderModeWatcher& operator=(const FolderModeWatcher&) = delete;

    // Takes in the events still queued and stops; the permission bits seen,
    // one per event (0 for a file already gone when looked at).
    std::vector<unsigned> stop();

private:
    std::filesystem::path folder_;
    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::vector<unsigned> modes_;
    std::thread thread_;
};

}  // namespace quillant::testing
