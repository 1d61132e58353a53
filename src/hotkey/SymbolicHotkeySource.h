#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "hotkey/DefaultsStore.h"

namespace quillant::hotkey {

// What the system reports about its own shortcuts: a status (0 = the list is
// valid) and one dictionary per shortcut.
struct SymbolicHotkeyList {
    std::int32_t status = 0;
    std::optional<std::vector<DefaultsDictionary>> hotkeys;
};

// Keys of each shortcut's dictionary.
inline constexpr std::string_view kSymbolicHotKeyEnabled = "kHISymbolicHotKeyEnabled";
inline constexpr std::string_view kSymbolicHotKeyCode = "kHISymbolicHotKeyCode";
inline constexpr std::string_view kSymbolicHotKeyModifiers = "kHISymbolicHotKeyModifiers";

// The system-wide shortcut list. Desktops without one answer an empty list.
class SymbolicHotkeySource {
public:
    virtual ~SymbolicHotkeySource() = default;
    virtual SymbolicHotkeyList copySymbolicHotKeys() = 0;
};

}  // namespace quillant::hotkey
