#pragma once

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/x11/KeysymTable.h"
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
    // `args`: {"--shortcut"} logs the key a toolkit matches shortcuts by.
    // `program`: another peer with the same "ready" handshake.
    explicit KeyLog(const Xvfb& xvfb, const std::vector<std::string>& args = {}, const char* program = QUILLANT_KEYLOG)
        : process_(Process::start(withProgram(program, args), xvfb.env())) {
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
    static std::vector<std::string> withProgram(const char* program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        return args;
    }
    Process process_;
};

// Another client's raw grab of one key with one exact modifier state: the
// key of g on the current layout unless told another keycode.
class RawGrabber {
public:
    explicit RawGrabber(const Xvfb& xvfb, std::optional<xcb_keycode_t> keycode = std::nullopt)
        : connection_(xcb_connect(xvfb.display().c_str(), nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        if (keycode) {
            key_ = *keycode;
        } else {
            linux_platform::XKeyboardMap map(connection_);
            key_ = *map.keycodeFor(hotkey::Key(hotkey::KeyCase::g));
        }
    }
    ~RawGrabber() { xcb_disconnect(connection_); }
    RawGrabber(const RawGrabber&) = delete;
    RawGrabber& operator=(const RawGrabber&) = delete;
    bool grab(std::uint16_t mask) {
        auto cookie = xcb_grab_key_checked(connection_, 1, root_, mask, key_, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        auto* error = xcb_request_check(connection_, cookie);
        std::free(error);
        return error == nullptr;
    }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_keycode_t key_ = 0;
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
