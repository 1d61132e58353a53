#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/Process.h"
#include "testsupport/TempDir.h"

namespace quillant::testing {

// A headless sway of its own (no outputs but a virtual one, no input devices,
// no XWayland unless its configuration says "xwayland enable"), for the
// Wayland tests. sway refuses to run as root: when the
// tests run as root, sway and everything that must belong to the same user
// (the agent, the application, the peers) run as `nobody`, with a home and an
// XDG_RUNTIME_DIR (0700) that user owns.
class HeadlessSway {
public:
    // `config` is appended to a minimal configuration (bindings and the like).
    explicit HeadlessSway(const std::string& config = {});
    ~HeadlessSway();
    HeadlessSway(const HeadlessSway&) = delete;
    HeadlessSway& operator=(const HeadlessSway&) = delete;

    // Whether sway runs and answers on its socket.
    bool ready() const { return !display_.empty(); }
    // Why not, when it does not.
    const std::string& failure() const { return failure_; }

    const std::string& waylandDisplay() const { return display_; }
    const std::filesystem::path& runtimeDir() const { return runtime_; }
    const std::filesystem::path& home() const { return home_; }
    // sway's IPC socket ($SWAYSOCK).
    const std::filesystem::path& ipcSocket() const { return swaysock_; }
    // A folder the user may write in, for pages, profiles and logs.
    std::filesystem::path scratch() const { return home_; }

    // The session's environment for a client: WAYLAND_DISPLAY,
    // XDG_RUNTIME_DIR, HOME, SWAYSOCK, PATH; no DISPLAY, no session bus.
    std::vector<std::string> env() const;
    // `argv` run as sway's user.
    std::vector<std::string> asUser(std::vector<std::string> argv) const;
    // Starts a client as sway's user with the session's environment and `extraEnv`.
    Process startClient(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                        ProcessOptions::Errors errors = ProcessOptions::Errors::discard,
                        const std::string& errorsFile = {}) const;
    // Runs a client to its end.
    ProgramResult runClient(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                            const std::optional<std::string>& input = std::nullopt,
                            std::chrono::milliseconds bound = std::chrono::seconds(30)) const;

    // The titles of the windows sway manages (from its tree), "app_id\ttitle" per window.
    std::vector<std::string> windows() const;
    // Waits until a window's title matches `pattern` (a regex); its title or nothing.
    std::optional<std::string> waitForTitle(const std::string& pattern, std::chrono::milliseconds bound) const;

    // Makes a file or folder the user's.
    void giveToUser(const std::filesystem::path& path) const;

private:
    TempDir dir_;
    std::filesystem::path runtime_, home_, swaysock_;
    std::string display_;
    std::string failure_;
    std::optional<Process> sway_;
    bool switchUser_ = false;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
};

}  // namespace quillant::testing
