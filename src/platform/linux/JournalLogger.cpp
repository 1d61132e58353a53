#include "platform/linux/JournalLogger.h"

#include <sys/stat.h>
#include <systemd/sd-journal.h>

#include <string>

namespace quillant::linux_platform {

JournalLogger::JournalLogger(const std::filesystem::path& journalSocket, std::unique_ptr<Logger> fallback)
    : fallback_(std::move(fallback)) {
    struct stat st {};
    journal_ = ::stat(journalSocket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

void JournalLogger::write(LogLevel level, std::string_view subsystem, std::string_view category,
                          std::string_view message) {
    if (journal_) {
        const std::string text(message), sub(subsystem), cat(category);
        const int priority = level == LogLevel::error ? 3 : 6;
        // "%s" keeps a message's own percent signs from being read as a format.
        if (sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=quillant",
                            "QUILLANT_SUBSYSTEM=%s", sub.c_str(), "QUILLANT_CATEGORY=%s", cat.c_str(), nullptr) >= 0)
            return;
    }
    fallback_->write(level, subsystem, category, message);
}

}  // namespace quillant::linux_platform
