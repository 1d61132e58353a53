#pragma once

#include <string>
#include <string_view>

namespace quillant {

enum class LogLevel { info, error };

// A log sink (the journal, stderr, or a recorder in tests).
class Logger {
public:
    virtual ~Logger() = default;
    virtual void write(LogLevel level, std::string_view subsystem, std::string_view category,
                       std::string_view message) = 0;
};

// The logger as the code uses it: a sink bound to a subsystem and category.
class CategoryLogger {
public:
    CategoryLogger(Logger& sink, std::string subsystem, std::string category)
        : sink_(&sink), subsystem_(std::move(subsystem)), category_(std::move(category)) {}

    void info(std::string_view message) const { sink_->write(LogLevel::info, subsystem_, category_, message); }
    void error(std::string_view message) const { sink_->write(LogLevel::error, subsystem_, category_, message); }

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

private:
    Logger* sink_;
    std::string subsystem_;
    std::string category_;
};

inline constexpr std::string_view kLogSubsystem = "com.vostel.quillant";

// Writes "quillant[category] level: message" lines to standard error.
class StderrLogger final : public Logger {
public:
    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view message) override;
};

// Discards everything.
class NullLogger final : public Logger {
public:
    void write(LogLevel, std::string_view, std::string_view, std::string_view) override {}
};

}  // namespace quillant
