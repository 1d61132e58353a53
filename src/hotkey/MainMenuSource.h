#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hotkey/ModifierFlags.h"

namespace quillant::hotkey {

struct MenuItem;

// A snapshot of one menu: its items in menu order.
struct Menu {
    std::vector<MenuItem> items;
};

struct MenuItem {
    std::string keyEquivalent;  // empty when the item has no shortcut
    ModifierFlags keyEquivalentModifierMask;
    std::optional<Menu> submenu;
};

// The application's main menu. Desktops without one answer none.
class MainMenuSource {
public:
    virtual ~MainMenuSource() = default;
    virtual std::optional<Menu> mainMenu() = 0;
};

}  // namespace quillant::hotkey
