#pragma once

#include <xcb/xcb.h>

#include <stdexcept>
#include <string>

namespace quillant::linux_platform {

struct XcbDisplay {
    xcb_connection_t* connection;
    xcb_window_t root;
};

// Opens a connection of our own to `display` (empty: $DISPLAY) and finds the
// default screen's root window. Throws std::runtime_error when it cannot.
inline XcbDisplay connectToDisplay(const std::string& display) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        throw std::runtime_error("cannot open the X display");
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    return {connection, it.data->root};
}

}  // namespace quillant::linux_platform
