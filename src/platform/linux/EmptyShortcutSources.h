#pragma once

#include "hotkey/MainMenuSource.h"
#include "hotkey/SymbolicHotkeySource.h"

namespace quillant::linux_platform {

// X11 desktops keep no system-wide shortcut list that applications can query.
class EmptySymbolicHotkeySource final : public hotkey::SymbolicHotkeySource {
public:
    hotkey::SymbolicHotkeyList copySymbolicHotKeys() override { return {0, std::vector<hotkey::DefaultsDictionary>{}}; }
};

// The tray application has no main menu bar.
class EmptyMainMenuSource final : public hotkey::MainMenuSource {
public:
    std::optional<hotkey::Menu> mainMenu() override { return std::nullopt; }
};

}  // namespace quillant::linux_platform
