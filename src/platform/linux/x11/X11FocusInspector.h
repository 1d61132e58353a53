#pragma once

#include <xcb/xcb.h>

#include <optional>
#include <string>

#include "clipboard/FocusInspector.h"

namespace quillant::linux_platform {

// The application whose window has the keyboard focus, on a connection of its
// own: the input focus (where synthetic keystrokes go) walked up to the
// client window that carries WM_CLASS, or down from a window manager's frame;
// _NET_ACTIVE_WINDOW when the focus follows the pointer or is on no window.
// Main thread only.
class X11FocusInspector final : public clipboard::FocusInspector {
public:
    // Connects to `display` (empty: $DISPLAY). Throws std::runtime_error when it cannot.
    explicit X11FocusInspector(const std::string& display = {});
    ~X11FocusInspector() override;
    X11FocusInspector(const X11FocusInspector&) = delete;
    X11FocusInspector& operator=(const X11FocusInspector&) = delete;

    std::optional<clipboard::FocusedApplication> focusedApplication() override;

private:
    struct Names {
        std::string instance, className;
    };
    // A client window with the names it was found by, so that they are read once.
    struct Client {
        xcb_window_t window;
        Names names;
    };
    std::optional<Names> wmClass(xcb_window_t window);
    std::optional<Client> clientAbove(xcb_window_t window);
    std::optional<Client> clientBelow(xcb_window_t window, int depth);
    xcb_window_t activeWindow();

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    xcb_atom_t netActiveWindow_ = XCB_NONE;
};

}  // namespace quillant::linux_platform
