#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillant::linux_platform {

// Whether the desktop portal (org.freedesktop.portal.Desktop on the session
// bus) offers an interface, and its version: a plain property read.
struct PortalInterface {
    std::string name;                      // e.g. "org.freedesktop.portal.GlobalShortcuts"
    std::optional<std::uint32_t> version;  // none: not offered
    // RemoteDesktop only: its AvailableDeviceTypes (1 keyboard, 2 pointer, 4 touchscreen).
    std::optional<std::uint32_t> deviceTypes;
};
struct PortalFindings {
    bool bus = false;          // a session bus answered
    bool portal = false;       // the portal service answered
    std::string problem;       // why not, when either is false
    std::vector<PortalInterface> interfaces;
};

// Asks for each of `interfaces`, every call bounded by `bound`.
PortalFindings probePortals(const std::vector<std::string>& interfaces, std::chrono::milliseconds bound);

}  // namespace quillant::linux_platform
