#include "platform/linux/x11/XTestAccessibilityGate.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace quillant::linux_platform {

XTestAccessibilityGate::XTestAccessibilityGate(Logger& logger, std::string display, std::string waylandDisplay)
    : log_(logger, std::string(kLogSubsystem), "accessibility"),
      display_(std::move(display)),
      waylandDisplay_(std::move(waylandDisplay)) {}

bool XTestAccessibilityGate::isProcessTrusted(bool prompt) {
    // A fresh connection each time: the answer follows the session as it is
    // now (an X server restarted without XTEST, XWayland started later).
    xcb_connection_t* connection = xcb_connect(display_.empty() ? nullptr : display_.c_str(), nullptr);
    const bool opened = xcb_connection_has_error(connection) == 0;
    bool xtest = false;
    if (opened) {
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(connection, &xcb_test_id);
        xtest = ext && ext->present;
    }
    xcb_disconnect(connection);
    if (xtest || !prompt) return xtest;

    if (opened)
        log_.error("The X server offers no XTEST extension, so quillant cannot send the copy and paste keys; "
                   "start the X server with XTEST enabled (Xorg and Xvfb have it by default)");
    else if (!waylandDisplay_.empty())
        log_.error("This is a Wayland session without an X display, so quillant cannot send keys to other "
                   "applications; enable XWayland (and set DISPLAY) or log in to an X11 session");
    else
        log_.error("No X display is reachable, so quillant cannot send keys to other applications; run it inside "
                   "an X11 desktop session with DISPLAY set");
    return false;
}

}  // namespace quillant::linux_platform
