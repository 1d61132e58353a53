#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "runtime/Logger.h"

namespace quillant::testing {

struct LogRecord {
    LogLevel level;
    std::string subsystem;
    std::string category;
    std::string message;
    bool operator==(const LogRecord&) const = default;
};

// Keeps every line for assertions.
class RecordingLogger final : public Logger {
public:
    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view message) override {
        std::lock_guard lock(mutex_);
        records_.push_back({level, std::string(subsystem), std::string(category), std::string(message)});
    }
    std::vector<LogRecord> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (auto& r : records_) out.push_back(r.message);
        return out;
    }
    bool contains(std::string_view needle) const {
        std::lock_guard lock(mutex_);
        for (auto& r : records_)
            if (r.message.find(needle) != std::string::npos) return true;
        return false;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

}  // namespace quillant::testing
