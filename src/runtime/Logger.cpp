#include "runtime/Logger.h"

#include <cstdio>
#include <mutex>

namespace quillant {

void StderrLogger::write(LogLevel level, std::string_view, std::string_view category, std::string_view message) {
    static std::mutex mutex;  // keeps lines from different threads whole
    std::lock_guard lock(mutex);
    std::fprintf(stderr, "quillant[%.*s] %s: %.*s\n", int(category.size()), category.data(),
                 level == LogLevel::info ? "info" : "error", int(message.size()), message.data());
}

}  // namespace quillant
