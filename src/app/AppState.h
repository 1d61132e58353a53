#pragma once

#include <string_view>

namespace quillant::app {

// What is known about the API key.
enum class BackendStatus { absent, checking, connected, invalid, offline };

// What the tray glyph shows.
enum class MenuBarState { idle, loading, ok, warn };

constexpr std::string_view caseName(BackendStatus s) {
    switch (s) {
        case BackendStatus::absent: return "absent";
        case BackendStatus::checking: return "checking";
        case BackendStatus::connected: return "connected";
        case BackendStatus::invalid: return "invalid";
        case BackendStatus::offline: return "offline";
    }
    return "absent";
}

constexpr std::string_view caseName(MenuBarState s) {
    switch (s) {
        case MenuBarState::idle: return "idle";
        case MenuBarState::loading: return "loading";
        case MenuBarState::ok: return "ok";
        case MenuBarState::warn: return "warn";
    }
    return "idle";
}

}  // namespace quillant::app
