#pragma once

#include <optional>
#include <string>

namespace quillant::linux_platform {

// The keymap (XKB text) the compositor gives the seat's keyboard, read from
// the wl_keyboard keymap event on a short connection of its own; none when
// the compositor cannot be reached or the seat has no keyboard. For the
// portal's keyboard, which presses keycodes that mean what this keymap says.
std::optional<std::string> readSeatKeymap(const std::string& display);

}  // namespace quillant::linux_platform
