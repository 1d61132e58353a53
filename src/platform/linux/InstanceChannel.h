#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillant::linux_platform {

// One quillant per user session, that is per X display of the user: the
// hotkey and the clipboard belong to a display. The running instance holds a
// lock in a private runtime folder and listens there on a local socket (both
// named after its display); a later start on that display, or a command-line
// operation, hands its request to it over a line protocol:
//
//   request:  COMMAND [ARGUMENT]\n    e.g. "show-panel", "key-set <key>", "key-clear"
//   answer:   "ok" [TEXT]\n  or  "error" TEXT\n
//
// The argument is percent-encoded ('%', CR, LF and NUL), so any key travels on one line.

// Our private runtime folder, the one `runtimeFolder` names (PrivateRuntimeDir.h),
// shared with the local service's socket. Created 0700 when missing; an
// existing one is used only when it is a real directory (no symlink) owned by
// us and closed to everyone else. It is never loosened (nor tightened: a
// folder someone else opened up is reported, not silently repaired).
struct RuntimeFolder {
    std::optional<std::filesystem::path> path;
    std::string error;  // why there is none
};
RuntimeFolder privateRuntimeFolder(const char* xdgRuntimeDir);

std::string encodeArgument(const std::string& raw);
std::string decodeArgument(const std::string& encoded);

class InstanceServer {
public:
    // Answers one request: the command and its decoded argument; returns the
    // answer line without its newline ("ok", "error …").
    using Handler = std::function<std::string(const std::string& command, const std::string& argument)>;

    // Tries to become the instance `name` in `folder`: none when another
    // instance holds the lock (`error` stays empty) or on failure (`error` says why).
    static std::unique_ptr<InstanceServer> claim(const std::filesystem::path& folder, const std::string& name,
                                                 std::string& error);
    ~InstanceServer();
    InstanceServer(const InstanceServer&) = delete;
    InstanceServer& operator=(const InstanceServer&) = delete;

    // The listening socket; readable when a peer connects.
    int fd() const { return listenFd_; }
    // Serves every waiting connection: checks the peer's user, reads its one
    // line (bounded in size and time), answers it through `handler`.
    void processPending(const Handler& handler);

    const std::filesystem::path& socketPath() const { return socketPath_; }

private:
    InstanceServer(int lockFd, int listenFd, std::filesystem::path socketPath);
    void serve(int connection, const Handler& handler);

    int lockFd_;
    int listenFd_;
    std::filesystem::path socketPath_;
};

// The instance's name for an X display: "agent-0" for ":0", "agent-host_1.0"
// for "host:1.0"; "agent" without one.
std::string instanceName(const std::string& display);
std::filesystem::path lockPath(const std::filesystem::path& folder, const std::string& name);
std::filesystem::path socketPath(const std::filesystem::path& folder, const std::string& name);

// Whether the instance `name` holds its lock in `folder` right now.
bool instanceRunning(const std::filesystem::path& folder, const std::string& name);
// The names of every instance running in `folder`, sorted.
std::vector<std::string> runningInstances(const std::filesystem::path& folder);

// Sends one request to the running instance and waits (at most `bound`) for
// its answer line. Retries the connection within the bound, since an
// instance that has just taken the lock may not listen yet. None on failure,
// with the reason in `error`.
std::optional<std::string> sendToInstance(const std::filesystem::path& folder, const std::string& name,
                                          const std::string& command,
                                          const std::optional<std::string>& argument,
                                          std::chrono::milliseconds bound, std::string& error);

}  // namespace quillant::linux_platform
