#include "platform/linux/InstanceChannel.h"

#include "platform/linux/PrivateRuntimeDir.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

namespace quillant::linux_platform {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kMaxLine = 64 * 1024;
constexpr int kPeerTimeoutMs = 1000;
// How long a start keeps looking at a lock held by someone (10 x 20 ms): far
// longer than a probe holds it, and short beside a second start's answer.
constexpr int kProbeRetries = 10;
constexpr auto kProbeRetryInterval = std::chrono::milliseconds(20);

bool fillAddress(const fs::path& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

bool peerIsUs(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
    return credentials.uid == ::geteuid();
}

// Reads up to the first newline within the deadline; none on EOF, time-out or overlong input.
std::optional<std::string> readLine(int fd, Clock::time_point deadline) {
    std::string line;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return std::nullopt;
        line.append(buffer, std::size_t(n));
        if (auto end = line.find('\n'); end != std::string::npos) return line.substr(0, end);
        if (line.size() > kMaxLine) return std::nullopt;
    }
}

bool writeAll(int fd, const std::string& data, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < data.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

RuntimeFolder privateRuntimeFolder(const char* xdgRuntimeDir) {
    const fs::path folder = runtimeFolder(xdgRuntimeDir);
    // Where there is no runtime directory, the folder is in ~/.cache, which may not exist yet.
    if (::mkdir(folder.parent_path().c_str(), 0700) != 0 && errno != EEXIST)
        return {std::nullopt, "cannot create " + folder.parent_path().string() + ": " + std::strerror(errno)};
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {std::nullopt, "cannot create " + folder.string() + ": " + std::strerror(errno)};
    struct stat info{};
    if (::lstat(folder.c_str(), &info) != 0)
        return {std::nullopt, "cannot examine " + folder.string() + ": " + std::strerror(errno)};
    if (auto why = whyNotPrivate(folder)) return {std::nullopt, "refusing to use " + folder.string() + ": " + *why};
    return {folder, {}};
}

std::string encodeArgument(const std::string& raw) {
    std::string out;
    for (unsigned char c : raw) {
        if (c == '%' || c == '\n' || c == '\r' || c == '\0') {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", unsigned(c));
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string decodeArgument(const std::string& encoded) {
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            const int high = hexValue(encoded[i + 1]);
            const int low = hexValue(encoded[i + 2]);
            if (high >= 0 && low >= 0) {
                out += char(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += encoded[i];
    }
    return out;
}

std::string instanceName(const std::string& display) {
    if (display.empty()) return "agent";
    std::string name = "agent-";
    for (char c : display.starts_with(":") ? display.substr(1) : display) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
                           c == '-';
        name += plain ? c : '_';
    }
    return name;
}

std::string sessionInstanceName(const std::string& x11Display, const std::string& waylandDisplay) {
    if (!x11Display.empty() || waylandDisplay.empty()) return instanceName(x11Display);
    // "agent-wayland-" cannot come from an X display name, which always holds a ':'.
    std::string name = instanceName(waylandDisplay);
    return "agent-wayland-" + name.substr(std::string("agent-").size());
}

fs::path lockPath(const fs::path& folder, const std::string& name) { return folder / (name + ".lock"); }
fs::path socketPath(const fs::path& folder, const std::string& name) { return folder / (name + ".sock"); }

std::unique_ptr<InstanceServer> InstanceServer::claim(const fs::path& folder, const std::string& name,
                                                      std::string& error) {
    error.clear();
    const fs::path lock = lockPath(folder, name);
    const int lockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) {
        error = "cannot open " + lock.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    // A probe (instanceRunning, from `quillant trigger` or `key set`) holds a
    // shared lock for an instant; only an instance holds it for long. So a
    // start that meets a held lock looks again for a moment before it counts
    // another instance as running.
    for (int attempt = 0; ::flock(lockFd, LOCK_EX | LOCK_NB) != 0;) {
        const int reason = errno;
        if (reason == EINTR) continue;
        if (reason != EWOULDBLOCK || ++attempt > kProbeRetries) {
            ::close(lockFd);
            if (reason != EWOULDBLOCK) error = "cannot lock " + lock.string() + ": " + std::strerror(reason);
            return nullptr;
        }
        std::this_thread::sleep_for(kProbeRetryInterval);
    }

    // We hold the lock, so a socket file left here is a dead instance's.
    const fs::path socketPath = linux_platform::socketPath(folder, name);
    sockaddr_un address;
    if (!fillAddress(socketPath, address)) {
        error = "the socket path " + socketPath.string() + " is too long";
        ::close(lockFd);
        return nullptr;
    }
    ::unlink(socketPath.c_str());
    const int listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const mode_t previous = ::umask(0177);
    const bool bound = listenFd >= 0 && ::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::umask(previous);
    if (!bound || ::listen(listenFd, 8) != 0) {
        error = "cannot listen on " + socketPath.string() + ": " + std::strerror(errno);
        if (listenFd >= 0) ::close(listenFd);
        ::close(lockFd);
        return nullptr;
    }
    return std::unique_ptr<InstanceServer>(new InstanceServer(lockFd, listenFd, socketPath));
}

InstanceServer::InstanceServer(int lockFd, int listenFd, fs::path socketPath)
    : lockFd_(lockFd), listenFd_(listenFd), socketPath_(std::move(socketPath)) {}

InstanceServer::~InstanceServer() {
    // The socket goes first, while we still hold the lock.
    ::unlink(socketPath_.c_str());
    ::close(listenFd_);
    ::close(lockFd_);
}

void InstanceServer::processPending(const Handler& handler) {
    for (;;) {
        const int connection = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection < 0) {
            if (errno == EINTR) continue;
            return;  // EAGAIN: nobody else waiting
        }
        serve(connection, handler);
        ::close(connection);
    }
}

void InstanceServer::serve(int connection, const Handler& handler) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPeerTimeoutMs);
    if (!peerIsUs(connection)) {
        writeAll(connection, "error not your instance\n", deadline);
        return;
    }
    auto line = readLine(connection, deadline);
    if (!line) return;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    const auto space = line->find(' ');
    const std::string command = line->substr(0, space);
    const std::string argument = space == std::string::npos ? std::string() : decodeArgument(line->substr(space + 1));
    std::string answer = handler(command, argument);
    for (char& c : answer)
        if (c == '\n' || c == '\r') c = ' ';
    writeAll(connection, answer + "\n", deadline);
}

bool instanceRunning(const fs::path& folder, const std::string& name) {
    const int fd = ::open(lockPath(folder, name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // also gives back the shared lock we may just have taken
    return held;
}

std::vector<std::string> runningInstances(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string file = entry.path().filename().string();
        if (!file.starts_with("agent") || !file.ends_with(".lock")) continue;
        const std::string name = file.substr(0, file.size() - 5);
        if (instanceRunning(folder, name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> sendToInstance(const fs::path& folder, const std::string& name, const std::string& command,
                                          const std::optional<std::string>& argument,
                                          std::chrono::milliseconds bound, std::string& error) {
    const auto deadline = Clock::now() + bound;
    sockaddr_un address;
    if (!fillAddress(socketPath(folder, name), address)) {
        error = "the socket path is too long";
        return std::nullopt;
    }
    int fd = -1;
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
        const int reason = errno;
        ::close(fd);
        fd = -1;
        if ((reason != ENOENT && reason != ECONNREFUSED && reason != EAGAIN) || Clock::now() >= deadline) {
            error = "cannot reach the running quillant: " + std::string(std::strerror(reason));
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!peerIsUs(fd)) {
        ::close(fd);
        error = "the socket belongs to another user";
        return std::nullopt;
    }
    std::string request = command;
    if (argument) request += " " + encodeArgument(*argument);
    request += "\n";
    std::optional<std::string> answer;
    if (writeAll(fd, request, deadline)) answer = readLine(fd, deadline);
    ::close(fd);
    if (!answer) error = "the running quillant did not answer";
    return answer;
}

}  // namespace quillant::linux_platform
