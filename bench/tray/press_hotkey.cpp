// Presses and releases Alt+Shift+G through XTest, COUNT times, PERIOD_MS
// apart, and prints the CLOCK_MONOTONIC time of each press in nanoseconds:
// "press NS". The time is taken when the press has reached the server.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>

static long long now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1;
    const int periodMs = argc > 2 ? std::atoi(argv[2]) : 1000;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 2;
    const KeyCode alt = XKeysymToKeycode(d, XK_Alt_L), shift = XKeysymToKeycode(d, XK_Shift_L),
                  g = XKeysymToKeycode(d, XK_g);
    for (int i = 0; i < count; ++i) {
        XTestFakeKeyEvent(d, alt, True, 0);
        XTestFakeKeyEvent(d, shift, True, 0);
        XSync(d, False);
        XTestFakeKeyEvent(d, g, True, 0);
        XSync(d, False);
        std::printf("press %lld\n", now());
        std::fflush(stdout);
        XTestFakeKeyEvent(d, g, False, 20);
        XTestFakeKeyEvent(d, shift, False, 0);
        XTestFakeKeyEvent(d, alt, False, 0);
        XSync(d, False);
        timespec pause{periodMs / 1000, (periodMs % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
    }
    XCloseDisplay(d);
    return 0;
}
