#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "hotkey/KeyDownMonitor.h"

namespace quillant::testing {

// A local key-down monitor the test feeds by hand. Records installs and removals.
class FakeKeyDownMonitor final : public hotkey::KeyDownMonitor {
public:
    hotkey::KeyDownMonitorToken addLocalMonitor(Handler handler) override {
        const auto token = static_cast<hotkey::KeyDownMonitorToken>(nextToken++);
        handlers[token] = std::move(handler);
        installs.push_back(token);
        return token;
    }

    void removeMonitor(hotkey::KeyDownMonitorToken token) override {
        removals.push_back(token);
        handlers.erase(token);
    }

    // One key-down event through every installed monitor in install order,
    // as the platform would; true when it got through all of them.
    bool press(std::uint16_t keyCode, hotkey::ModifierFlags flags = {}) {
        const auto snapshot = handlers;
        for (const auto& [token, handler] : snapshot) {
            if (!handlers.count(token)) continue;  // removed by an earlier handler
            if (!handler(keyCode, flags)) return false;
        }
        return true;
    }

    std::size_t installedCount() const { return handlers.size(); }

    std::map<hotkey::KeyDownMonitorToken, Handler> handlers;
    std::vector<hotkey::KeyDownMonitorToken> installs;
    std::vector<hotkey::KeyDownMonitorToken> removals;

private:
    std::uint64_t nextToken = 1;
};

}  // namespace quillant::testing
