// A focused window that prints every key event it receives:
// "press|release <keysym name> <state in hex>", after a first "ready" line.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 2;
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 300, 200, 0, 0, 0);
    XSelectInput(display, window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapRaised(display, window);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) break;
    }
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != KeyPress && event.type != KeyRelease) continue;
        KeySym sym = XLookupKeysym(&event.xkey, 0);
        const char* name = XKeysymToString(sym);
        std::printf("%s %s %x\n", event.type == KeyPress ? "press" : "release", name ? name : "?", event.xkey.state);
        std::fflush(stdout);
    }
}
