#pragma once

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/RecordingLogger.h"
#include "testsupport/X11TestHarness.h"

namespace quillant::testing {

using namespace std::chrono_literals;

// An Xvfb of the test's own, with xdotool and the key-log window as peers.
class X11DesktopTest : public ::testing::Test {
protected:
    Xvfb xvfb;
    RecordingLogger logger;

    int xdotool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        return Process::start(argv, xvfb.env()).wait(10s);
    }
    // Runs a shell command (xdotool with pauses) in the background.
    Process background(const std::string& script) { return Process::start({"sh", "-c", script}, xvfb.env()); }
};

// The focused window of the key-log peer.
class KeyLog {
public:
    explicit KeyLog(const Xvfb& xvfb) : process_(Process::start({QUILLANT_KEYLOG}, xvfb.env())) {
        auto ready = process_.readLine(20s);
        if (!ready || *ready != "ready") throw std::runtime_error("key log did not start");
    }
    // The next line that starts with `prefix`, skipping others; none after `bound`.
    std::optional<std::string> next(const std::string& prefix, std::chrono::milliseconds bound = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= 0ms) return std::nullopt;
            auto line = process_.readLine(left);
            if (!line) return std::nullopt;
            seen.push_back(*line);
            if (line->rfind(prefix, 0) == 0) return line;
        }
    }
    std::vector<std::string> seen;

private:
    Process process_;
};

// Calls `pump` whenever `fd` is readable until `done` holds or the bound passes.
inline bool pumpUntil(int fd, const std::function<void()>& pump, const std::function<bool()>& done,
                      std::chrono::milliseconds bound = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    pump();
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return false;
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, int(std::min<long long>(left.count(), 100)));
        pump();
    }
    return true;
}

}  // namespace quillant::testing
