// A peer program for the desktop tests, on Xlib so that it shares no code
// with what it tests.
//
//   quillant_test_editor editor --instance NAME --class NAME --text TEXT
//                               [--paste-delay-ms MS] [--no-paste-read]
//       A focused window holding a selection. Ctrl+C (nothing else held)
//       puts the selection on CLIPBOARD and prints "copied"; Ctrl+V prints
//       "paste-key" and, MS later (default 0), reads CLIPBOARD as UTF8_STRING
//       and prints "pasted TEXT" (the text then becomes the selection). Every
//       key press prints "key NAME STATE". First line: "ready 0xWINDOW".
//   quillant_test_editor owner --text TEXT [--targets-delay-ms MS]
//       Owns CLIPBOARD with TEXT and answers TARGETS only after MS. Prints "ready".
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Peer {
    Display* display = nullptr;
    Window window = None;
    Atom clipboard, targets, utf8, textPlain, property;
    std::string text;
    int targetsDelayMs = 0;

    void init() {
        display = XOpenDisplay(nullptr);
        if (!display) std::exit(2);
        clipboard = XInternAtom(display, "CLIPBOARD", False);
        targets = XInternAtom(display, "TARGETS", False);
        utf8 = XInternAtom(display, "UTF8_STRING", False);
        textPlain = XInternAtom(display, "text/plain;charset=utf-8", False);
        property = XInternAtom(display, "EDITOR_PASTE", False);
    }

    void serve(const XSelectionRequestEvent& req) {
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.requestor = req.requestor;
        reply.selection = req.selection;
        reply.target = req.target;
        reply.time = req.time;
        reply.property = req.property == None ? req.target : req.property;
        if (req.target == targets) {
            if (targetsDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(targetsDelayMs));
            Atom list[] = {targets, utf8, textPlain, XA_STRING};
            XChangeProperty(display, req.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(list), 4);
        } else if (req.target == utf8 || req.target == textPlain || req.target == XA_STRING) {
            XChangeProperty(display, req.requestor, reply.property, req.target == XA_STRING ? XA_STRING : req.target,
                            8, PropModeReplace, reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
        } else {
            reply.property = None;
        }
        XSendEvent(display, req.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
        XFlush(display);
    }
};

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int runOwner(Peer& p) {
    p.window = XCreateSimpleWindow(p.display, DefaultRootWindow(p.display), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(p.display, p.clipboard, p.window, CurrentTime);
    if (XGetSelectionOwner(p.display, p.clipboard) != p.window) return 3;
    XFlush(p.display);
    say("ready");
    for (;;) {
        XEvent ev;
        XNextEvent(p.display, &ev);
        if (ev.type == SelectionRequest) p.serve(ev.xselectionrequest);
    }
}

int runEditor(Peer& p, const std::string& instance, const std::string& klass, int pasteDelayMs, bool pasteRead) {
    p.window = XCreateSimpleWindow(p.display, DefaultRootWindow(p.display), 0, 0, 400, 300, 0, 0, 0xffffff);
    XClassHint hint;
    hint.res_name = const_cast<char*>(instance.c_str());
    hint.res_class = const_cast<char*>(klass.c_str());
    XSetClassHint(p.display, p.window, &hint);
    XStoreName(p.display, p.window, ("editor " + instance).c_str());
    XSelectInput(p.display, p.window, KeyPressMask | KeyReleaseMask | StructureNotifyMask | PropertyChangeMask);
    XMapRaised(p.display, p.window);
    for (;;) {
        XEvent ev;
        XNextEvent(p.display, &ev);
        if (ev.type == MapNotify) break;
    }
    XSetInputFocus(p.display, p.window, RevertToParent, CurrentTime);
    XSync(p.display, False);
    char ready[64];
    std::snprintf(ready, sizeof ready, "ready 0x%lx", p.window);
    say(ready);

    bool readPending = false;  // the pasting read is due at readAt
    Clock::time_point readAt{};
    for (;;) {
        if (!XPending(p.display)) {
            int wait = -1;
            if (readPending) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(readAt - Clock::now()).count();
                wait = int(std::max<long long>(0, left));
            }
            pollfd fd{ConnectionNumber(p.display), POLLIN, 0};
            ::poll(&fd, 1, wait);
            if (readPending && Clock::now() >= readAt) {
                readPending = false;
                XDeleteProperty(p.display, p.window, p.property);
                XConvertSelection(p.display, p.clipboard, p.utf8, p.property, p.window, CurrentTime);
                XFlush(p.display);
            }
            if (!XPending(p.display)) continue;
        }
        XEvent ev;
        XNextEvent(p.display, &ev);
        if (ev.type == SelectionRequest) {
            p.serve(ev.xselectionrequest);
        } else if (ev.type == KeyPress) {
            KeySym sym = XLookupKeysym(&ev.xkey, 0);
            const unsigned state = ev.xkey.state & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask);
            const char* name = XKeysymToString(sym);
            char line[128];
            std::snprintf(line, sizeof line, "key %s %x", name ? name : "?", state);
            say(line);
            if (sym == XK_c && state == ControlMask) {
                XSetSelectionOwner(p.display, p.clipboard, p.window, ev.xkey.time);
                XFlush(p.display);
                say("copied");
            } else if (sym == XK_v && state == ControlMask) {
                say("paste-key");
                if (pasteRead) {
                    readPending = true;
                    readAt = Clock::now() + std::chrono::milliseconds(pasteDelayMs);
                }
            }
        } else if (ev.type == SelectionNotify && ev.xselection.requestor == p.window) {
            if (ev.xselection.property == None) {
                say("pasted-nothing");
                continue;
            }
            Atom type;
            int format;
            unsigned long count, after;
            unsigned char* data = nullptr;
            XGetWindowProperty(p.display, p.window, p.property, 0, 1 << 20, True, AnyPropertyType, &type, &format,
                               &count, &after, &data);
            std::string got(reinterpret_cast<char*>(data), data ? count : 0);
            if (data) XFree(data);
            p.text = got;
            say("pasted " + got);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string mode = argv[1];
    Peer p;
    std::string instance = "quillant-test-editor", klass = "QuillantTestEditor";
    int pasteDelayMs = 0;
    bool pasteRead = true;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) std::exit(2);
            return argv[++i];
        };
        if (a == "--text") p.text = value();
        else if (a == "--instance") instance = value();
        else if (a == "--class") klass = value();
        else if (a == "--paste-delay-ms") pasteDelayMs = std::atoi(value().c_str());
        else if (a == "--no-paste-read") pasteRead = false;
        else if (a == "--targets-delay-ms") p.targetsDelayMs = std::atoi(value().c_str());
        else return 2;
    }
    p.init();
    if (mode == "owner") return runOwner(p);
    if (mode == "editor") return runEditor(p, instance, klass, pasteDelayMs, pasteRead);
    return 2;
}
