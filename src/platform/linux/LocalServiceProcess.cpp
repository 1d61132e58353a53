#include "platform/linux/LocalServiceProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "credentials/TokenStore.h"
#include "platform/linux/PrivateRuntimeDir.h"

extern char** environ;

namespace quillant::linux_platform {

namespace {

using namespace std::chrono_literals;

constexpr auto kPoll = 10ms;
constexpr int kPollsBeforeGivingUp = 500;  // 5 s: a cold start on a loaded machine
constexpr auto kRestartAfter = 5s;         // a start that long ago without an answer has failed

}  // namespace

LocalServiceProcess::LocalServiceProcess(LocalServiceCommand command, Logger& log)
    : command_(std::move(command)), log_(log, std::string(kLogSubsystem), "corrector") {}

Task<std::optional<std::string>> LocalServiceProcess::ensureRunning() {
    // Nothing of ours on a socket another user could stand in for.
    if (auto why = whyNotPrivate(command_.socket.parent_path())) co_return "Refusing the local corrector: " + *why;
    if (unixSocketAnswers(command_.socket)) {
        startedAt_.reset();
        co_return std::nullopt;
    }
    const auto now = std::chrono::steady_clock::now();
    // Requests that come while it is starting wait for that start.
    if (!startedAt_ || now - *startedAt_ > kRestartAfter) {
        std::string error;
        if (!start(error)) {
            log_.error(error);
            co_return error;
        }
        startedAt_ = now;
        log_.info("local corrector started: " + command_.executable.string());
    }
    for (int i = 0; i < kPollsBeforeGivingUp; ++i) {
        if (!co_await sleepFor(kPoll)) co_return "Cancelled";
        if (unixSocketAnswers(command_.socket)) {
            startedAt_.reset();
            co_return std::nullopt;
        }
    }
    const std::string why = "The local corrector did not start (journalctl --user -t quillant-service)";
    log_.error(why);
    co_return why;
}

bool LocalServiceProcess::start(std::string& error) {
    if (::access(command_.executable.c_str(), X_OK) != 0) {
        error = "The local corrector is missing: " + command_.executable.string() + " (reinstall quillant)";
        return false;
    }
    // Everything the child needs is made before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> args{command_.executable.string(),
                                  "--socket",     command_.socket.string(),
                                  "--keys-file",  command_.keysFile.string(),
                                  "--user-config", command_.userConfig.string(),
                                  "--idle-exit",  std::to_string(command_.idleExit.count())};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int log = sd_journal_stream_fd("quillant-service", LOG_INFO, 1);
    if (log < 0) log = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (log < 0 || null < 0) {
        error = std::string("cannot start the local corrector: ") + std::strerror(errno);
        if (log >= 0) ::close(log);
        if (null >= 0) ::close(null);
        return false;
    }
    sigset_t none;
    sigemptyset(&none);
    // Twice forked: the corrector is nobody's child of ours to reap, and in a
    // session of its own it outlives a terminal that started `quillant fix`.
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        if (::fork() != 0) ::_exit(0);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(log, 2);
        ::syscall(SYS_close_range, 3u, ~0u, 0u);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }
    const int forkError = errno;
    ::close(log);
    ::close(null);
    if (child < 0) {
        error = std::string("cannot start the local corrector: ") + std::strerror(forkError);
        return false;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

std::optional<std::filesystem::path> findLocalService(const std::filesystem::path& ownExecutable) {
    const auto folder = ownExecutable.parent_path();
    for (const auto& candidate : {folder / "quillant-service", folder.parent_path() / "service" / "quillant-service"})
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    return std::nullopt;
}

LocalServiceCommand localServiceCommand(const std::filesystem::path& ownExecutable, const std::filesystem::path& socket,
                                        const std::filesystem::path& configDirectory) {
    LocalServiceCommand command;
    command.executable = findLocalService(ownExecutable).value_or(ownExecutable.parent_path() / "quillant-service");
    command.socket = socket;
    command.keysFile = configDirectory / "service-keys";
    command.userConfig = configDirectory;
    return command;
}

namespace {

std::string freshKey() {
    unsigned char bytes[24];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error(std::string("no random bytes: ") + std::strerror(errno));
        got += std::size_t(n);
    }
    static const char* hex = "0123456789abcdef";
    std::string key = "qk_";
    for (unsigned char b : bytes) {
        key += hex[b >> 4];
        key += hex[b & 15];
    }
    return key;
}

}  // namespace

std::optional<std::string> provisionLocalKey(const std::filesystem::path& home, const std::filesystem::path& keysFile,
                                             std::string& error) {
    const credentials::TokenStore store(home, kLocalKeyFileName);
    const auto folder = keysFile.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    ::chmod(folder.c_str(), 0700);  // quillant's own folder: nobody else needs to look inside
    const int fd = ::open(keysFile.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open " + keysFile.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }  // also lets go of the lock
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077)) {
        error = keysFile.string() + " must be a file of yours that only you can read (chmod 600)";
        return std::nullopt;
    }
    // Two quillants at once: the second sees the first one's key.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    std::string listed;
    char buffer[4096];
    ssize_t n;
    while ((n = ::pread(fd, buffer, sizeof buffer, off_t(listed.size()))) > 0) listed.append(buffer, std::size_t(n));
    std::optional<std::string> key = store.load();
    if (key) {
        std::istringstream lines(listed);
        for (std::string line; std::getline(lines, line);)
            if (line == *key) return key;
    } else {
        try {
            key = freshKey();
        } catch (const std::exception& e) {
            error = e.what();
            return std::nullopt;
        }
        if (!store.save(*key)) {
            error = "cannot write " + store.path().string();
            return std::nullopt;
        }
    }
    std::string line = (listed.empty() || listed.back() == '\n' ? "" : "\n") + *key + "\n";
    if (::write(fd, line.data(), line.size()) != ssize_t(line.size())) {
        error = "cannot write " + keysFile.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return key;
}

}  // namespace quillant::linux_platform
