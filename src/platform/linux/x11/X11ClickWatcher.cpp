#include "platform/linux/x11/X11ClickWatcher.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <stdexcept>

namespace quillant::linux_platform {

struct X11ClickWatcher::Connection {
    Display* display = nullptr;
    int opcode = 0;
};

X11ClickWatcher::X11ClickWatcher(const std::string& display) : c_(new Connection) {
    c_->display = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (!c_->display) {
        delete c_;
        throw std::runtime_error("cannot open the X display");
    }
    int event = 0, error = 0;
    int major = 2, minor = 0;
    if (!XQueryExtension(c_->display, "XInputExtension", &c_->opcode, &event, &error) ||
        XIQueryVersion(c_->display, &major, &minor) != Success) {
        XCloseDisplay(c_->display);
        delete c_;
        throw std::runtime_error("the X server has no XInput 2");
    }
}

void X11ClickWatcher::listen(bool on) {
    if (on == listening_) return;
    listening_ = on;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) XISetMask(bits, XI_RawButtonPress);
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(c_->display, DefaultRootWindow(c_->display), &mask, 1);
    XFlush(c_->display);
}

X11ClickWatcher::~X11ClickWatcher() {
    XCloseDisplay(c_->display);
    delete c_;
}

int X11ClickWatcher::fd() const { return ConnectionNumber(c_->display); }

void X11ClickWatcher::processPendingEvents() {
    while (XPending(c_->display)) {
        XEvent event;
        XNextEvent(c_->display, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != c_->opcode || !XGetEventData(c_->display, cookie))
            continue;
        const bool press = cookie->evtype == XI_RawButtonPress;
        // Buttons 4 to 7 are the wheel: scrolling elsewhere closes nothing.
        const int button = press ? static_cast<XIRawEvent*>(cookie->data)->detail : 0;
        XFreeEventData(c_->display, cookie);
        if (!press || button < 1 || button > 3) continue;
        Window root, child;
        int x = 0, y = 0, wx = 0, wy = 0;
        unsigned int buttons = 0;
        if (!XQueryPointer(c_->display, DefaultRootWindow(c_->display), &root, &child, &x, &y, &wx, &wy, &buttons))
            continue;
        if (onPress) onPress(x, y);
    }
}

}  // namespace quillant::linux_platform
