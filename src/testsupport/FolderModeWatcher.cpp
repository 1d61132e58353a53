#include "testsupport/FolderModeWatcher.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace quillant::testing {

FolderModeWatcher::FolderModeWatcher(const std::filesystem::path& folder) : folder_(folder) {
    fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd_ < 0 ||
        ::inotify_add_watch(fd_, folder_.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_ATTRIB) < 0)
        throw std::runtime_error("cannot watch " + folder_.string());
    thread_ = std::thread([this] {
        alignas(inotify_event) char buffer[4096];
        for (bool last = false;;) {
            ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                // Events are queued before the writer's call returns: once stopped, drain once more and end.
                if (last) break;
                last = stopping_;
                std::this_thread::yield();
                continue;
            }
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                if (event->len > 0) {
                    struct stat st {};
                    modes_.push_back(::lstat((folder_ / event->name).c_str(), &st) == 0 ? st.st_mode & 07777 : 0);
                }
                p += sizeof(inotify_event) + event->len;
            }
        }
    });
}

FolderModeWatcher::~FolderModeWatcher() {
    stop();
    if (fd_ >= 0) ::close(fd_);
}

std::vector<unsigned> FolderModeWatcher::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    return modes_;
}

}  // namespace quillant::testing
