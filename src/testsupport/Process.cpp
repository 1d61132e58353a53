#include "testsupport/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <stdexcept>
#include <system_error>
#include <utility>

extern char** environ;

namespace quillant::testing {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : int(left);
}

int pollFor(int fd, Clock::time_point deadline) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, millisecondsLeft(deadline));
}

std::string nameOf(const std::string& entry) { return entry.substr(0, entry.find('=') + 1); }

std::vector<std::string> environmentFor(const ProcessOptions& options) {
    std::vector<std::string> env;
    if (options.inheritEnvironment)
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            bool left = false;
            for (auto& extra : options.env)
                if (nameOf(entry) == nameOf(extra)) left = true;
            for (auto& prefix : options.dropFromEnvironment)
                if (entry.rfind(prefix, 0) == 0) left = true;
            if (!left) env.push_back(entry);
        }
    env.insert(env.end(), options.env.begin(), options.env.end());
    return env;
}

// Standard input's bytes in an anonymous file, so that large input never blocks on a pipe.
int inputFile(const std::string& bytes) {
    int fd = ::memfd_create("quillant-test-stdin", MFD_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "memfd_create");
    for (std::size_t done = 0; done < bytes.size();) {
        auto n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::system_error(errno, std::generic_category(), "write stdin");
        done += std::size_t(n);
    }
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

// Appends what `fd` holds now; closes it and sets it to -1 at EOF.
void drain(int& fd, std::string& into) {
    char chunk[65536];
    auto n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
        into.append(chunk, std::size_t(n));
        return;
    }
    if (n < 0 && errno == EINTR) return;
    ::close(fd);
    fd = -1;
}

}  // namespace

Process Process::start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, bool quiet,
                       bool ownGroup) {
    ProcessOptions options;
    options.env = extraEnv;
    options.errors = quiet ? ProcessOptions::Errors::discard : ProcessOptions::Errors::inherit;
    options.ownGroup = ownGroup;
    return startWith(argv, options);
}

Process Process::startWith(const std::vector<std::string>& argv, const ProcessOptions& options) {
    int outPipe[2], errPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    const bool captureErrors = options.errors == ProcessOptions::Errors::capture;
    if (captureErrors && pipe2(errPipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    const int inFd = options.input ? inputFile(*options.input) : -1;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, inFd, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    if (captureErrors)
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    else if (options.errors == ProcessOptions::Errors::discard)
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    else if (options.errors == ProcessOptions::Errors::toFile)
        posix_spawn_file_actions_addopen(&actions, 2, options.errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> env = environmentFor(options);
    std::vector<char*> envp, args;
    for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (options.ownGroup) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
    }
    Process p;
    p.ownGroup_ = options.ownGroup;
    int rc = posix_spawnp(&p.pid_, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    if (captureErrors) close(errPipe[1]);
    if (inFd >= 0) close(inFd);
    if (rc != 0) {
        close(outPipe[0]);
        if (captureErrors) close(errPipe[0]);
        p.pid_ = -1;
        throw std::system_error(rc, std::generic_category(), "spawn " + argv[0]);
    }
    p.out_ = outPipe[0];
    p.err_ = errPipe[0];
    p.pidFd_ = int(syscall(SYS_pidfd_open, p.pid_, 0));
    return p;
}

Process::Process(Process&& other) noexcept { *this = std::move(other); }

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        std::swap(pid_, other.pid_);
        std::swap(out_, other.out_);
        std::swap(err_, other.err_);
        std::swap(pidFd_, other.pidFd_);
        std::swap(ownGroup_, other.ownGroup_);
        std::swap(buffer_, other.buffer_);
        std::swap(errors_, other.errors_);
        std::swap(status_, other.status_);
    }
    return *this;
}

Process::~Process() {
    if (pid_ > 0) terminate();
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
    if (pidFd_ >= 0) close(pidFd_);
}

bool Process::waitForLine(const std::string& needle, std::chrono::milliseconds bound,
                          std::vector<std::string>* seen) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        auto line = readLine(std::chrono::milliseconds(200));
        if (!line) {
            if (!running()) return false;
            continue;
        }
        if (seen) seen->push_back(*line);
        if (line->find(needle) != std::string::npos) return true;
    }
    return false;
}

std::optional<std::string> Process::readLine(std::chrono::milliseconds bound) {
    auto deadline = Clock::now() + bound;
    for (;;) {
        auto nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            auto line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return line;
        }
        if (out_ < 0 || pollFor(out_, deadline) <= 0) return std::nullopt;
        drain(out_, buffer_);
    }
}

std::string Process::readAll(std::chrono::milliseconds bound) {
    auto deadline = Clock::now() + bound;
    while (out_ >= 0 && pollFor(out_, deadline) > 0) drain(out_, buffer_);
    return std::exchange(buffer_, {});
}

bool Process::pumpPipes(Clock::time_point deadline, bool untilEof) {
    bool got = false;
    do {
        pollfd fds[2];
        int count = 0;
        if (out_ >= 0) fds[count++] = {out_, POLLIN, 0};
        if (err_ >= 0) fds[count++] = {err_, POLLIN, 0};
        if (count == 0) return got;
        if (::poll(fds, nfds_t(count), millisecondsLeft(deadline)) <= 0) return got;
        for (int i = 0; i < count; ++i) {
            if (!fds[i].revents) continue;
            got = true;
            if (fds[i].fd == out_)
                drain(out_, buffer_);
            else
                drain(err_, errors_);
        }
    } while (untilEof);
    return got;
}

bool Process::waitForErrors(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds bound) {
    auto deadline = Clock::now() + bound;
    while (!done(errors_)) {
        if (err_ < 0 || Clock::now() >= deadline) return false;
        pumpPipes(deadline, false);
    }
    return true;
}

std::optional<int> Process::exitStatus() {
    if (status_) return status_;
    if (pid_ <= 0) return std::nullopt;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return status_;
}

bool Process::running() { return !exitStatus(); }

int Process::wait(std::chrono::milliseconds bound) {
    auto deadline = Clock::now() + bound;
    while (!exitStatus()) {
        if (Clock::now() >= deadline) {
            terminate();
            return -1;
        }
        if (pidFd_ >= 0)
            pollFor(pidFd_, deadline);
        else
            usleep(10000);
    }
    return *status_;
}

int Process::finish(std::chrono::milliseconds bound) {
    auto deadline = Clock::now() + bound;
    // EOF on both pipes comes when the child (and whatever inherited them) is gone.
    pumpPipes(deadline, true);
    return wait(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

void Process::signal(int number) {
    if (pid_ > 0) kill(pid_, number);
}

void Process::terminate() {
    if (pid_ <= 0) return;
    pid_t target = ownGroup_ ? -pid_ : pid_;
    kill(target, SIGTERM);
    for (int i = 0; i < 300 && !exitStatus(); ++i) usleep(10000);
    if (pid_ > 0) {
        kill(target, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
        status_ = -1;
        pid_ = -1;
    }
    if (ownGroup_) kill(target, SIGKILL);  // children that outlived the leader
}

ProgramResult runProgram(const std::vector<std::string>& argv, ProcessOptions options,
                         std::chrono::milliseconds bound) {
    options.errors = ProcessOptions::Errors::capture;
    auto p = Process::startWith(argv, options);
    ProgramResult result;
    result.status = p.finish(bound);
    result.out = p.readAll(std::chrono::milliseconds(0));
    result.err = p.errors();
    return result;
}

std::optional<pid_t> readPidFile(const std::filesystem::path& file, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(file);
        pid_t pid = 0;
        if (in >> pid && pid > 0) return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return std::nullopt;
}

std::string readFileOrEmpty(const std::string& path) {
    std::string all;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return all;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) all.append(buffer, size_t(n));
    ::close(fd);
    return n < 0 ? std::string() : all;
}

bool processRunning(pid_t pid) {
    const std::string all = readFileOrEmpty("/proc/" + std::to_string(pid) + "/stat");
    const auto close = all.rfind(')');
    return close != std::string::npos && close + 2 < all.size() && all[close + 2] != 'Z';
}

std::vector<pid_t> processesRunning(const std::filesystem::path& executable, const std::string& argument) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc", ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code linkError;
        if (std::filesystem::read_symlink(it->path() / "exe", linkError) != executable) continue;
        const std::string cmdline = readFileOrEmpty(it->path() / "cmdline");
        if (('\0' + cmdline).find('\0' + argument + '\0') == std::string::npos) continue;
        const pid_t pid = pid_t(std::stol(name));
        if (processRunning(pid)) found.push_back(pid);
    }
    return found;
}

void stopProcessesRunning(const std::filesystem::path& executable, const std::string& argument) {
    for (pid_t pid : processesRunning(executable, argument)) ::kill(pid, SIGTERM);
    for (int i = 0; i < 200 && !processesRunning(executable, argument).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace quillant::testing
