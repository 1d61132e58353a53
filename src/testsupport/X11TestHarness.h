#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillant::testing {

// A child process with its standard output on a pipe; stderr is inherited so
// that a peer's complaints show in the test log. Terminated when destroyed.
class Process {
public:
    // `quiet` discards stderr; `ownGroup` puts the process and its children in
    // a process group of their own that terminate() ends as a whole.
    static Process start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                         bool quiet = false, bool ownGroup = false);
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    ~Process();

    pid_t pid() const { return pid_; }
    // A descriptor that becomes readable when the process ends.
    int exitFd() const { return pidFd_; }
    // Standard output, for watching; -1 after EOF.
    int outFd() const { return out_; }
    // The next line of standard output, without its newline; nothing at EOF or after `bound`.
    std::optional<std::string> readLine(std::chrono::milliseconds bound);
    // Everything left on standard output until EOF (or `bound`).
    std::string readAll(std::chrono::milliseconds bound);
    bool running();
    // The exit status once it has ended (-1 for a signal); nothing while it runs.
    std::optional<int> exitStatus();
    // Waits for the end; kills it after `bound` and returns -1.
    int wait(std::chrono::milliseconds bound);
    void terminate();

private:
    Process() = default;
    pid_t pid_ = -1;
    int out_ = -1;
    int pidFd_ = -1;
    bool ownGroup_ = false;
    std::string buffer_;
    std::optional<int> status_;
};

// An Xvfb server on a display of its own choosing, stopped when destroyed.
class Xvfb {
public:
    // `extraArgs` go to the server, e.g. {"-extension", "XTEST"} to leave one out.
    explicit Xvfb(const std::vector<std::string>& extraArgs = {});
    const std::string& display() const { return display_; }
    std::vector<std::string> env() const { return {"DISPLAY=" + display_}; }

private:
    std::optional<Process> server_;
    std::string display_;
};

// A fresh directory, removed with everything in it when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace quillant::testing
