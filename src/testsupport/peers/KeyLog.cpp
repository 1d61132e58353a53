// A focused window that prints every key event it receives:
// "press|release <keysym name> <state in hex>", after a first "ready" line.
// With --shortcut the name is the key a toolkit matches shortcuts by (GTK,
// Qt and Chromium alike): the keysym of the event's group, or, when that is a
// letter of another script, the first Latin keysym the key has in any group.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstring>

namespace {

bool otherScript(KeySym sym) { return sym > 0xff && (sym < 0xfe00 || sym > 0xffff); }

KeySym shortcutKey(Display* display, const XKeyEvent& key) {
    const KeyCode code = static_cast<KeyCode>(key.keycode);
    // The first level of the event's group, with the server's wrapping of
    // keys that have fewer groups.
    KeySym sym = NoSymbol;
    unsigned int consumed = 0;
    XkbLookupKeySym(display, code, key.state & (3u << 13), &consumed, &sym);
    if (!otherScript(sym)) return sym;
    for (int group = 0; group < XkbNumKbdGroups; ++group) {
        KeySym latin = XkbKeycodeToKeysym(display, code, group, 0);
        if (latin != NoSymbol && latin <= 0xff) return latin;
    }
    return sym;
}

}  // namespace

int main(int argc, char** argv) {
    const bool shortcuts = argc > 1 && std::strcmp(argv[1], "--shortcut") == 0;
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
        if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
        if (event.type != KeyPress && event.type != KeyRelease) continue;
        KeySym sym = shortcuts ? shortcutKey(display, event.xkey) : XLookupKeysym(&event.xkey, 0);
        const char* name = XKeysymToString(sym);
        std::printf("%s %s %x\n", event.type == KeyPress ? "press" : "release", name ? name : "?", event.xkey.state);
        std::fflush(stdout);
    }
}
