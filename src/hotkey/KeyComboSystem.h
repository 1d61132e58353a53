#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hotkey/KeyCombo.h"
#include "hotkey/MainMenuSource.h"
#include "hotkey/SymbolicHotkeySource.h"

// Shortcuts that are already taken elsewhere: by the system, by the
// application's menus and by common application conventions.
namespace quillant::hotkey {

// There is no layout-aware key naming; always none.
std::optional<std::string> carbonKeyCodeToString(std::uint32_t code);

// The enabled system-wide shortcuts in the system's order; unreadable entries
// are skipped and a refused query gives an empty list.
std::vector<KeyCombo> systemKeyCombos(SymbolicHotkeySource& source);

// The shortcuts of the main menu, or an empty list without one.
std::vector<KeyCombo> mainMenuKeyCombos(MainMenuSource& source);

// The shortcuts of a menu and its submenus, depth-first in menu order; duplicates stay.
std::vector<KeyCombo> keyCombos(const Menu& menu);

// The 46 shortcuts common applications use, in a fixed order.
std::vector<KeyCombo> standardKeyCombos();

}  // namespace quillant::hotkey
