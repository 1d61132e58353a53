#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillant::testing {

// How a child is started.
struct ProcessOptions {
    // Added to the environment, replacing an inherited entry of the same name.
    std::vector<std::string> env;
    // Whether the test's own environment is passed on at all.
    bool inheritEnvironment = true;
    // Inherited entries that start with one of these are left out (e.g. "HOME=", "QUILLANT_").
    std::vector<std::string> dropFromEnvironment;
    // Standard input's bytes; /dev/null when absent.
    std::optional<std::string> input;
    enum class Errors { inherit, discard, capture, toFile };
    // Standard error: the test log (a peer's complaints show there), nowhere, captured, or
    // into `errorsFile` (for a long-lived child whose log nobody reads as it goes).
    Errors errors = Errors::inherit;
    std::string errorsFile;
    // The process and its children in a process group of their own that terminate() ends as a whole.
    bool ownGroup = false;
};

// A child process with its standard output on a pipe. Terminated when destroyed.
class Process {
public:
    static Process startWith(const std::vector<std::string>& argv, const ProcessOptions& options);
    // `quiet` discards stderr; `ownGroup` as in ProcessOptions.
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
    // Reads lines until one contains `needle`; false when `bound` passes or the
    // process ends first. Every line read goes to `seen` when given.
    bool waitForLine(const std::string& needle, std::chrono::milliseconds bound,
                     std::vector<std::string>* seen = nullptr);
    // Everything left on standard output until EOF (or `bound`).
    std::string readAll(std::chrono::milliseconds bound);
    // With Errors::capture: what the child wrote to standard error so far. `waitForErrors`
    // reads more until `done` holds for it or `bound` passes.
    const std::string& errors() const { return errors_; }
    bool waitForErrors(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds bound);
    bool running();
    // The exit status once it has ended (-1 for a signal); nothing while it runs.
    std::optional<int> exitStatus();
    // Waits for the end; kills it after `bound` and returns -1.
    int wait(std::chrono::milliseconds bound);
    // Waits for the end while taking in all of standard output and error (so that a chatty child
    // never blocks on a full pipe); then `readAll` and `errors` hold what it wrote.
    int finish(std::chrono::milliseconds bound);
    void signal(int number);
    void terminate();

private:
    Process() = default;
    // Reads whatever the pipes hold until the deadline or until both are at EOF; false when nothing came.
    bool pumpPipes(std::chrono::steady_clock::time_point deadline, bool untilEof);
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int pidFd_ = -1;
    bool ownGroup_ = false;
    std::string buffer_;
    std::string errors_;
    std::optional<int> status_;
};

// Runs a program to its end with `input` on standard input; its status, output and errors.
struct ProgramResult {
    int status = -1;
    std::string out, err;
};
ProgramResult runProgram(const std::vector<std::string>& argv, ProcessOptions options,
                         std::chrono::milliseconds bound = std::chrono::seconds(60));

// The process id a child wrote into `file` (e.g. `echo $$ > file`), once it is there.
std::optional<pid_t> readPidFile(const std::filesystem::path& file, std::chrono::milliseconds bound);
// A whole file, or empty when it cannot be read (a /proc file of a process
// that has just exited fails with ESRCH, which std::ifstream throws on).
std::string readFileOrEmpty(const std::string& path);

// Alive and not a zombie waiting to be reaped.
bool processRunning(pid_t pid);

// The processes running `executable` with `argument` among their arguments
// (e.g. the local corrector on one test's socket, which nobody of the test's waits for).
std::vector<pid_t> processesRunning(const std::filesystem::path& executable, const std::string& argument);
// Sends them SIGTERM and waits (up to ten seconds) until they are gone.
void stopProcessesRunning(const std::filesystem::path& executable, const std::string& argument);

}  // namespace quillant::testing
