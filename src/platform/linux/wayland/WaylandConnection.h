#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_interface;

namespace quillant::linux_platform {

// One global the compositor announces.
struct WaylandGlobal {
    std::uint32_t name = 0;
    std::string interface;
    std::uint32_t version = 0;
};

// A connection of our own to the compositor with its list of globals.
// Each realisation keeps its own connection, so that one may be used off the
// main thread without sharing an event queue.
class WaylandConnection {
public:
    // Connects to `display` (empty: $WAYLAND_DISPLAY) and reads the globals.
    // Throws std::runtime_error when no compositor answers.
    explicit WaylandConnection(const std::string& display = {});
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    const std::vector<WaylandGlobal>& globals() const { return globals_; }
    std::optional<WaylandGlobal> find(const std::string& interface) const;

    // Binds a global at most at `maxVersion`; nullptr when it is not offered.
    void* bind(const std::string& interface, const wl_interface* type, std::uint32_t maxVersion,
               std::uint32_t* boundVersion = nullptr);

    int fd() const;
    // Reads what the compositor has sent, dispatches it and flushes our
    // requests; never blocks. False once the connection is broken.
    bool dispatchPending();
    // Waits until the compositor has handled every request sent so far and
    // dispatches what came meanwhile. False once the connection is broken.
    bool roundtrip();
    bool flush();
    bool broken() const;

private:
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    std::vector<WaylandGlobal> globals_;
};

// The globals of the compositor at `display` (empty: $WAYLAND_DISPLAY), or
// nothing when none answers (with the reason in `error`).
std::optional<std::vector<WaylandGlobal>> probeWaylandGlobals(const std::string& display, std::string& error);

// The clipboard protocols we speak, in the order we prefer them.
inline constexpr const char* kExtDataControl = "ext_data_control_manager_v1";
inline constexpr const char* kWlrDataControl = "zwlr_data_control_manager_v1";
inline constexpr const char* kVirtualKeyboard = "zwp_virtual_keyboard_manager_v1";

// What a session's globals give quillant: the clipboard protocol it would use
// (empty: none) and whether keystrokes can go through a virtual keyboard.
struct WaylandOffer {
    std::string dataControl;
    bool virtualKeyboard = false;
    bool seat = false;
    bool usable() const { return !dataControl.empty() && virtualKeyboard && seat; }
};
WaylandOffer waylandOffer(const std::vector<WaylandGlobal>& globals);

}  // namespace quillant::linux_platform
