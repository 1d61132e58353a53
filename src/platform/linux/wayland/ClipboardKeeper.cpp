#include "platform/linux/wayland/ClipboardKeeper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux/wayland/WaylandClipboard.h"

extern char** environ;

namespace quillant::linux_platform {

namespace {

// What a keeper takes in at most: the clipboard's own bound per read pass.
constexpr std::size_t kMaxInput = std::size_t(256) << 20;

template <class T>
void put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class T>
bool take(std::string_view& in, T& value) {
    if (in.size() < sizeof value) return false;
    std::memcpy(&value, in.data(), sizeof value);
    in.remove_prefix(sizeof value);
    return true;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(std::size_t(n));
    }
    return true;
}

}  // namespace

std::string encodeClipboardEntries(const ClipboardEntries& entries) {
    std::string out;
    for (const auto& [type, bytes] : entries) {
        put(out, std::uint32_t(type.size()));
        out += type;
        put(out, std::uint64_t(bytes.size()));
        out += bytes.view();
    }
    return out;
}

std::optional<ClipboardEntries> decodeClipboardEntries(std::string_view data) {
    ClipboardEntries entries;
    while (!data.empty()) {
        std::uint32_t typeLength = 0;
        std::uint64_t length = 0;
        if (!take(data, typeLength) || typeLength == 0 || typeLength > data.size()) return std::nullopt;
        std::string type(data.substr(0, typeLength));
        data.remove_prefix(typeLength);
        if (!take(data, length) || length > data.size()) return std::nullopt;
        entries.emplace_back(std::move(type), clipboard::Bytes(data.substr(0, std::size_t(length))));
        data.remove_prefix(std::size_t(length));
    }
    return entries;
}

bool markedSecret(const ClipboardEntries& entries) {
    for (const auto& [type, bytes] : entries)
        if (type == "x-kde-passwordManagerHint" && bytes == clipboard::Bytes("secret")) return true;
    return false;
}

bool handOverToClipboardKeeper(const std::string& executable, const ClipboardEntries& entries,
                               std::chrono::milliseconds bound, std::string& error) {
    // What was marked for clipboard managers to leave alone is not kept past our quitting either.
    if (markedSecret(entries)) {
        error = "it holds content marked secret (x-kde-passwordManagerHint), which is not kept";
        return false;
    }
    int input[2], answer[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (::pipe2(answer, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ::close(input[0]);
        ::close(input[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, answer[1], 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: the terminal or session going away does not end it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    std::string arg0 = executable, arg1 = "clipboard-keeper";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input[0]);
    ::close(answer[1]);
    if (spawned != 0) {
        error = std::string("cannot start the clipboard keeper: ") + std::strerror(spawned);
        ::close(input[1]);
        ::close(answer[0]);
        return false;
    }
    signal(SIGPIPE, SIG_IGN);
    const bool written = writeAll(input[1], encodeClipboardEntries(entries));
    ::close(input[1]);
    std::string reply;
    if (written) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        char buffer[16];
        while (reply.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                     std::chrono::steady_clock::now());
            pollfd p{answer[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) break;
            const ssize_t n = ::read(answer[0], buffer, sizeof buffer);
            if (n <= 0) break;
            reply.append(buffer, std::size_t(n));
        }
    }
    ::close(answer[0]);
    // The keeper lives on; it is reaped by init once we are gone. One that
    // already ended is reaped here.
    ::waitpid(pid, nullptr, WNOHANG);
    if (reply != "ok\n") {
        error = written ? "the clipboard keeper did not take the clipboard in time" : "the clipboard keeper went away";
        return false;
    }
    return true;
}

int runClipboardKeeper(Logger& logger, std::FILE* in, std::FILE* out) {
    std::string data;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        data.append(buffer, n);
        if (data.size() > kMaxInput) return 1;
    }
    auto entries = decodeClipboardEntries(data);
    if (!entries || entries->empty()) return 1;
    try {
        WaylandClipboard clipboard(logger);
        clipboard::PasteboardItemData item;
        for (auto& [type, bytes] : *entries) item.set(type, bytes);
        clipboard.writeItems({item});
        if (!clipboard.ownsClipboard()) return 1;
        std::fputs("ok\n", out);
        std::fflush(out);
        while (clipboard.connected() && clipboard.ownsClipboard()) {
            pollfd p{clipboard.fd(), POLLIN, 0};
            ::poll(&p, 1, -1);
            clipboard.processPendingEvents();
        }
    } catch (const std::exception&) {
        return 1;
    }
    return 0;
}

}  // namespace quillant::linux_platform
