#include "testsupport/X11TestHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>

extern char** environ;

namespace quillant::testing {

namespace {

using Clock = std::chrono::steady_clock;

int pollFor(int fd, Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, int(left));
}

}  // namespace

Process Process::start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, bool quiet,
                       bool ownGroup) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (auto& extra : extraEnv)
            if (entry.substr(0, entry.find('=') + 1) == extra.substr(0, extra.find('=') + 1)) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp, args;
    for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (ownGroup) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
    }
    Process p;
    p.ownGroup_ = ownGroup;
    int rc = posix_spawnp(&p.pid_, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        throw std::system_error(rc, std::generic_category(), "spawn " + argv[0]);
    }
    p.out_ = pipeFds[0];
    p.pidFd_ = int(syscall(SYS_pidfd_open, p.pid_, 0));
    return p;
}

Process::Process(Process&& other) noexcept { *this = std::move(other); }

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        std::swap(pid_, other.pid_);
        std::swap(out_, other.out_);
        std::swap(pidFd_, other.pidFd_);
        std::swap(ownGroup_, other.ownGroup_);
        std::swap(buffer_, other.buffer_);
        std::swap(status_, other.status_);
    }
    return *this;
}

Process::~Process() {
    if (pid_ > 0) terminate();
    if (out_ >= 0) close(out_);
    if (pidFd_ >= 0) close(pidFd_);
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
        char chunk[4096];
        auto n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            return std::nullopt;
        }
        buffer_.append(chunk, std::size_t(n));
    }
}

std::string Process::readAll(std::chrono::milliseconds bound) {
    auto deadline = Clock::now() + bound;
    while (out_ >= 0 && pollFor(out_, deadline) > 0) {
        char chunk[65536];
        auto n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            break;
        }
        buffer_.append(chunk, std::size_t(n));
    }
    return std::exchange(buffer_, {});
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

Xvfb::Xvfb(const std::vector<std::string>& extraArgs) {
    // -displayfd lets the server pick a free display and report it on our pipe (its stdout).
    std::vector<std::string> argv{"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x800x24", "-noreset"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    server_ = Process::start(argv, {}, true);
    auto number = server_->readLine(std::chrono::seconds(20));
    if (!number || number->empty()) throw std::runtime_error("Xvfb did not start");
    display_ = ":" + *number;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillant-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace quillant::testing
