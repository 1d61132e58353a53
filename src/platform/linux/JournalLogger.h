#pragma once

#include <filesystem>
#include <memory>

#include "runtime/Logger.h"

namespace quillant::linux_platform {

// Writes to the systemd journal (identifier "quillant", the subsystem and
// category as fields of their own: `journalctl --user -t quillant`), or to
// the fallback (standard error) when no journal is reachable.
class JournalLogger final : public Logger {
public:
    static constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

    explicit JournalLogger(const std::filesystem::path& journalSocket = kJournalSocket,
                           std::unique_ptr<Logger> fallback = std::make_unique<StderrLogger>());

    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view message) override;

    bool usesJournal() const { return journal_; }

private:
    bool journal_ = false;
    std::unique_ptr<Logger> fallback_;
};

}  // namespace quillant::linux_platform
