#pragma once

#include <cstdint>
#include <functional>

#include "hotkey/ModifierFlags.h"

namespace quillant::hotkey {

enum class KeyDownMonitorToken : std::uint64_t {};

// Watches the key-down events delivered to this application's own windows
// (not other applications'), before normal handling. Main thread only.
class KeyDownMonitor {
public:
    // Gets the virtual key code (the `Key` table's codes) and the event's
    // modifier flags; answers true to let the event through, false to swallow it.
    using Handler = std::function<bool(std::uint16_t keyCode, ModifierFlags modifierFlags)>;

    virtual ~KeyDownMonitor() = default;

    virtual KeyDownMonitorToken addLocalMonitor(Handler handler) = 0;
    // Afterwards the handler is not called again.
    virtual void removeMonitor(KeyDownMonitorToken token) = 0;
};

}  // namespace quillant::hotkey
