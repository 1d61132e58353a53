#pragma once

#include <chrono>

#include "runtime/VirtualExecutor.h"

namespace quillant::testing {

// Runs a virtual executor whose work also arrives from real threads (a real
// HTTP session): virtual timers fire at once, real completions are waited for.
template <class Pred>
bool driveUntil(VirtualExecutor& executor, Pred done,
                std::chrono::milliseconds limit = std::chrono::milliseconds(20'000)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        executor.runUntilIdle();
        if (done()) return true;
        if (executor.pendingTimers() > 0) {
            executor.advanceToNextTimer();
            continue;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        executor.waitForPost(std::chrono::milliseconds(50));
    }
}

}  // namespace quillant::testing
