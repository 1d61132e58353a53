#pragma once

#include <string>

#include "app/AccessibilityGate.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// Synthetic keystrokes need an X server with the XTEST extension: a plain
// Wayland session (no XWayland) or a server built without XTEST cannot have
// them, and no permission dialog can change that, so asking logs what is
// missing and how to fix it.
class XTestAccessibilityGate final : public app::AccessibilityGate {
public:
    // `display` empty: $DISPLAY. `waylandDisplay` is $WAYLAND_DISPLAY, used
    // only to explain a missing X display.
    XTestAccessibilityGate(Logger& logger, std::string display, std::string waylandDisplay);

    bool isProcessTrusted(bool prompt) override;

private:
    CategoryLogger log_;
    std::string display_;
    std::string waylandDisplay_;
};

}  // namespace quillant::linux_platform
