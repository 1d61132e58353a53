#include "platform/linux/wayland/SwayFocusInspector.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

namespace quillant::linux_platform {

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::uint32_t kGetTree = 4;
constexpr std::uint32_t kGetVersion = 7;
constexpr std::size_t kMaxReply = std::size_t(32) << 20;
constexpr int kBoundMs = 500;

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool transfer(int fd, char* data, std::size_t size, bool sending, std::chrono::steady_clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size) {
        const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                   std::chrono::steady_clock::now())
                                 .count());
        if (left <= 0) return false;
        pollfd p{fd, short(sending ? POLLOUT : POLLIN), 0};
        if (::poll(&p, 1, left) <= 0) return false;
        const ssize_t n = sending ? ::send(fd, data + done, size - done, MSG_NOSIGNAL) : ::recv(fd, data + done, size - done, 0);
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

// One request and its reply's payload; none on any failure.
std::optional<std::string> ask(const std::string& socketPath, std::uint32_t type) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    Fd s{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    if (s.fd < 0) return std::nullopt;
    if (::connect(s.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
    char header[14];
    std::memcpy(header, kMagic, 6);
    const std::uint32_t length = 0;
    std::memcpy(header + 6, &length, 4);
    std::memcpy(header + 10, &type, 4);
    if (!transfer(s.fd, header, sizeof header, true, deadline)) return std::nullopt;
    if (!transfer(s.fd, header, sizeof header, false, deadline)) return std::nullopt;
    std::uint32_t replyLength = 0, replyType = 0;
    std::memcpy(&replyLength, header + 6, 4);
    std::memcpy(&replyType, header + 10, 4);
    if (std::memcmp(header, kMagic, 6) != 0 || replyType != type || replyLength > kMaxReply) return std::nullopt;
    std::string payload(replyLength, '\0');
    if (!transfer(s.fd, payload.data(), payload.size(), false, deadline)) return std::nullopt;
    return payload;
}

const nlohmann::json* findFocused(const nlohmann::json& node, int depth) {
    if (depth > 64 || !node.is_object()) return nullptr;
    if (node.value("focused", false)) return &node;
    for (const char* key : {"nodes", "floating_nodes"}) {
        auto it = node.find(key);
        if (it == node.end() || !it->is_array()) continue;
        for (const auto& child : *it)
            if (auto* found = findFocused(child, depth + 1)) return found;
    }
    return nullptr;
}

std::string text(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::optional<clipboard::FocusedApplication> focusedViewInTree(const std::string& treeJson) {
    const auto tree = nlohmann::json::parse(treeJson, nullptr, false);
    if (tree.is_discarded()) return std::nullopt;
    const nlohmann::json* focused = findFocused(tree, 0);
    if (!focused || text(*focused, "type") == "workspace" || text(*focused, "type") == "output" ||
        text(*focused, "type") == "root")
        return std::nullopt;
    clipboard::FocusedApplication app;
    auto id = focused->find("id");
    if (id == focused->end() || !id->is_number_unsigned()) return std::nullopt;
    app.window = id->get<std::uint64_t>();
    if (const std::string appId = text(*focused, "app_id"); !appId.empty()) {
        app.instanceName = appId;
        app.className = appId;
    } else if (auto props = focused->find("window_properties"); props != focused->end() && props->is_object()) {
        app.instanceName = text(*props, "instance");
        app.className = text(*props, "class");
    }
    // A window that gives itself no name is still the focus: the built-in
    // chords then treat it as any application.
    return app;
}

SwayFocusInspector::SwayFocusInspector(std::string socketPath) : socketPath_(std::move(socketPath)) {}

std::optional<clipboard::FocusedApplication> SwayFocusInspector::focusedApplication() {
    const auto tree = ask(socketPath_, kGetTree);
    if (!tree) return std::nullopt;
    return focusedViewInTree(*tree);
}

bool SwayFocusInspector::reachable(const std::string& socketPath) { return ask(socketPath, kGetVersion).has_value(); }

}  // namespace quillant::linux_platform
