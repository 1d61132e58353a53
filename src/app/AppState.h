#pragma once

#include <string>
#include <string_view>

namespace quillant::app {

// What is known about the API key.
enum class BackendStatus { absent, checking, connected, invalid, offline };

// What the tray glyph shows.
enum class MenuBarState { idle, loading, ok, warn };

// How the last fix ended, as the user is told: a success, or a refusal or
// failure (`failed`), with the status text it left.
struct FixOutcome {
    std::string text;
    bool failed = false;
    bool operator==(const FixOutcome&) const = default;
};

// Whether a press of the hotkey reaches quillant, and when not, why and what
// the user can do about it.
struct HotkeyArming {
    bool armed = true;
    std::string shown;     // the combination that works, as the desktop writes it
    std::string reason;    // why it does not (not armed only)
    std::string whatToDo;  // not armed only
    bool operator==(const HotkeyArming&) const = default;
};

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
