#include "platform/linux/PosixProcess.h"

#include "platform/linux/FolderExchange.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

extern char** environ;

namespace quillant::linux_platform {

namespace {

pid_t spawnProcess(const std::filesystem::path& program, const std::vector<std::string>& args, bool detached) {
    std::vector<std::string> argvStrings;
    argvStrings.push_back(program.string());
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (detached) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);

    // Nothing of ours is read by a child: standard input is /dev/null, so a
    // tool that would ask a question (unzip on a clash) gets an end of file.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) throw std::system_error(rc, std::generic_category(), "cannot start " + program.string());
    return pid;
}

}  // namespace

int runAndWait(const std::filesystem::path& program, const std::vector<std::string>& args) {
    pid_t pid = spawnProcess(program, args, false);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void launchDetached(const std::filesystem::path& program, const std::vector<std::string>& args) {
    // Not waited for: when we exit it is re-parented and reaped by init.
    spawnProcess(program, args, true);
}

std::filesystem::path temporaryDirectory() {
    // A relative TMPDIR is not one: it would name a folder below wherever we
    // were started, and could begin with "-".
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && tmp[0] == '/') return tmp;
    return "/tmp";
}

std::filesystem::path installationFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().parent_path();
}

std::filesystem::path PosixUpdateEnvironment::temporaryDirectory() { return linux_platform::temporaryDirectory(); }
std::filesystem::path PosixUpdateEnvironment::bundlePath() { return installationFolder(); }
long PosixUpdateEnvironment::processIdentifier() { return long(getpid()); }
int PosixUpdateEnvironment::runAndWait(const std::filesystem::path& program, const std::vector<std::string>& args) {
    return linux_platform::runAndWait(program, args);
}
void PosixUpdateEnvironment::launchDetached(const std::filesystem::path& program,
                                            const std::vector<std::string>& args) {
    linux_platform::launchDetached(program, args);
}

std::error_code PosixUpdateEnvironment::exchangeFolders(const std::filesystem::path& a,
                                                        const std::filesystem::path& b) {
    return std::error_code(linux_platform::exchangeFolders(a, b), std::generic_category());
}

}  // namespace quillant::linux_platform
