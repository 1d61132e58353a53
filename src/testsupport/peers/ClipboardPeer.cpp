// A peer program for the X11 clipboard tests, written against Xlib so that it
// shares no code with what it tests.
//
//   x11clip_test_peer own --targets FILE [--chunk N] [--hang] [--hang-target NAME]... [--stay]
//       Takes CLIPBOARD and serves the targets listed in FILE (lines of
//       NAME<TAB>TYPE<TAB>FORMAT<TAB>PATH), incrementally above N bytes.
//       --hang answers nothing; --hang-target leaves one target unanswered.
//       Prints "ready" once it owns the clipboard; exits when it loses it
//       unless --stay.
//   x11clip_test_peer read --out DIR [--repeat-targets N] [--multiple A,B,..] [--only NAME]
//                          [--pause-after-first-chunk-ms MS] [--timeout-ms MS]
//       Reads every target of the CLIPBOARD owner byte for byte into DIR.
//   x11clip_test_peer manager [--hang]
//       A clipboard manager: owns CLIPBOARD_MANAGER and, asked for
//       SAVE_TARGETS, copies the clipboard and takes it over.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/ClipboardPeerFiles.h"
#include "testsupport/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Data {
    Atom type = None;
    int format = 8;
    std::string bytes;
};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "x11clip_test_peer: %s\n", message.c_str());
    std::exit(3);
}

using quillant::testing::peerFileName;
using quillant::testing::readFile;
using quillant::testing::writeFile;

struct Peer {
    Display* d = nullptr;
    Window w = None;
    Atom clipboard, targets, timestamp, multiple, incr, atomPair, saveTargets, clipboardManager, probe, readProp;

    Peer() {
        d = XOpenDisplay(nullptr);
        if (!d) fail("cannot open display");
        w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(d, w, PropertyChangeMask);
        clipboard = atom("CLIPBOARD");
        targets = atom("TARGETS");
        timestamp = atom("TIMESTAMP");
        multiple = atom("MULTIPLE");
        incr = atom("INCR");
        atomPair = atom("ATOM_PAIR");
        saveTargets = atom("SAVE_TARGETS");
        clipboardManager = atom("CLIPBOARD_MANAGER");
        probe = atom("PEER_TIME");
        readProp = atom("PEER_READ");
    }

    ~Peer() { XCloseDisplay(d); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    Atom atom(const std::string& name) { return XInternAtom(d, name.c_str(), False); }
    std::string name(Atom a) {
        if (a == None) return "None";
        char* n = XGetAtomName(d, a);
        std::string s = n ? n : "";
        if (n) XFree(n);
        return s;
    }

    template <class Pred>
    static Bool matches(Display*, XEvent* e, XPointer arg) {
        return (*reinterpret_cast<Pred*>(arg))(*e) ? True : False;
    }

    // Takes the first matching event and leaves the others queued.
    template <class Pred>
    bool waitEvent(XEvent* out, Pred pred, int timeoutMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (XCheckIfEvent(d, out, &matches<Pred>, reinterpret_cast<XPointer>(&pred))) return true;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{ConnectionNumber(d), POLLIN, 0};
            ::poll(&p, 1, int(std::min<long long>(left, 100)));
        }
    }

    Time serverTime() {
        XChangeProperty(d, w, probe, XA_INTEGER, 8, PropModeAppend, nullptr, 0);
        XEvent ev;
        if (!waitEvent(
                &ev, [&](XEvent& e) { return e.type == PropertyNotify && e.xproperty.atom == probe; }, 5000))
            fail("no server time");
        return ev.xproperty.time;
    }

    static std::string propertyBytes(int format, unsigned long n, unsigned char* data) {
        std::string out;
        if (format == 8) {
            out.assign(reinterpret_cast<char*>(data), n);
        } else if (format == 16) {
            auto* v = reinterpret_cast<short*>(data);
            for (unsigned long i = 0; i < n; ++i) {
                std::uint16_t x = std::uint16_t(v[i]);
                out.append(reinterpret_cast<char*>(&x), 2);
            }
        } else if (format == 32) {
            auto* v = reinterpret_cast<long*>(data);
            for (unsigned long i = 0; i < n; ++i) {
                std::uint32_t x = std::uint32_t(v[i]);
                out.append(reinterpret_cast<char*>(&x), 4);
            }
        }
        return out;
    }

    std::optional<Data> getProperty(Window win, Atom prop, bool del) {
        Atom type;
        int format;
        unsigned long n, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, win, prop, 0, 0x1fffffff, del ? True : False, AnyPropertyType, &type, &format, &n,
                               &after, &data) != Success)
            return std::nullopt;
        Data out{type, format, propertyBytes(format, n, data)};
        if (data) XFree(data);
        if (type == None) return std::nullopt;
        return out;
    }

    // Reads a property the owner has written into, following INCR.
    std::optional<Data> receive(Atom prop, int timeoutMs, int pauseAfterFirstChunkMs) {
        auto head = getProperty(w, prop, false);
        if (!head) return std::nullopt;
        if (head->type != incr) {
            XDeleteProperty(d, w, prop);
            return head;
        }
        // Notifications from before the transfer (the announcement itself) are not chunks.
        XSync(d, False);
        XEvent stale;
        auto isProp = [&](XEvent& e) { return e.type == PropertyNotify && e.xproperty.atom == prop; };
        while (XCheckIfEvent(d, &stale, &matches<decltype(isProp)>, reinterpret_cast<XPointer>(&isProp))) {
        }
        XDeleteProperty(d, w, prop);
        Data out;
        bool first = true;
        for (;;) {
            XEvent ev;
            if (!waitEvent(
                    &ev,
                    [&](XEvent& e) {
                        return e.type == PropertyNotify && e.xproperty.window == w && e.xproperty.atom == prop &&
                               e.xproperty.state == PropertyNewValue;
                    },
                    timeoutMs))
                fail("incremental transfer stalled after " + std::to_string(out.bytes.size()) + " bytes");
            auto chunk = getProperty(w, prop, true);
            if (!chunk) continue;
            if (chunk->bytes.empty()) break;
            out.type = chunk->type;
            out.format = chunk->format;
            out.bytes += chunk->bytes;
            if (first && pauseAfterFirstChunkMs > 0) {
                std::printf("started\n");
                std::fflush(stdout);
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseAfterFirstChunkMs));
            }
            first = false;
        }
        return out;
    }

    // nullopt: refused. Fails the program on a time-out.
    std::optional<Data> convert(Atom selection, Atom target, int timeoutMs, int pauseMs = 0) {
        XDeleteProperty(d, w, readProp);
        XConvertSelection(d, selection, target, readProp, w, CurrentTime);
        XEvent ev;
        if (!waitEvent(
                &ev,
                [&](XEvent& e) {
                    return e.type == SelectionNotify && e.xselection.selection == selection &&
                           e.xselection.target == target;
                },
                timeoutMs))
            fail("no answer for " + name(target));
        if (ev.xselection.property == None) return std::nullopt;
        return receive(ev.xselection.property, timeoutMs, pauseMs);
    }

    std::vector<Atom> atomList(const Data& data) {
        std::vector<Atom> out;
        for (std::size_t i = 0; i + 4 <= data.bytes.size(); i += 4) {
            std::uint32_t a;
            std::memcpy(&a, data.bytes.data() + i, 4);
            out.push_back(a);
        }
        return out;
    }
};

struct Served {
    Atom type;
    int format;
    std::string bytes;
};

// Serves CLIPBOARD from a fixed set of targets.
struct Owner {
    Peer& p;
    std::map<Atom, Served> content;
    std::vector<Atom> order;
    std::size_t chunk = 65536;
    std::vector<Atom> hangTargets;
    Time time = CurrentTime;
    struct Transfer {
        Window window;
        Atom property;
        const Served* data;
        std::size_t offset;
    };
    std::vector<Transfer> transfers;

    explicit Owner(Peer& peer) : p(peer) {}

    void add(Atom target, Served s) {
        if (!content.count(target)) order.push_back(target);
        content[target] = std::move(s);
    }

    bool take() {
        time = p.serverTime();
        XSetSelectionOwner(p.d, p.clipboard, p.w, time);
        return XGetSelectionOwner(p.d, p.clipboard) == p.w;
    }

    void put(Window win, Atom prop, Atom type, int format, const std::string& bytes) {
        if (format == 32) {
            std::vector<long> longs(bytes.size() / 4);
            for (std::size_t i = 0; i < longs.size(); ++i) {
                std::uint32_t x;
                std::memcpy(&x, bytes.data() + 4 * i, 4);
                longs[i] = long(x);
            }
            XChangeProperty(p.d, win, prop, type, 32, PropModeReplace, reinterpret_cast<unsigned char*>(longs.data()),
                            int(longs.size()));
        } else {
            XChangeProperty(p.d, win, prop, type, format, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size() / (format / 8)));
        }
    }

    // Returns false for requests it leaves unanswered.
    bool handleRequest(const XSelectionRequestEvent& req) {
        if (std::find(hangTargets.begin(), hangTargets.end(), req.target) != hangTargets.end()) return false;
        Atom answered = None;
        Atom prop = req.property == None ? req.target : req.property;
        if (req.selection == p.clipboard) {
            if (req.target == p.targets) {
                std::vector<long> list{long(p.targets), long(p.timestamp)};
                for (Atom a : order) list.push_back(long(a));
                XChangeProperty(p.d, req.requestor, prop, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(list.data()), int(list.size()));
                answered = prop;
            } else if (req.target == p.timestamp) {
                long t = long(time);
                XChangeProperty(p.d, req.requestor, prop, XA_INTEGER, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(&t), 1);
                answered = prop;
            } else if (auto it = content.find(req.target); it != content.end()) {
                const Served& s = it->second;
                if (s.bytes.size() > chunk && s.format == 8) {
                    XSelectInput(p.d, req.requestor, PropertyChangeMask);
                    long size = long(s.bytes.size());
                    XChangeProperty(p.d, req.requestor, prop, p.incr, 32, PropModeReplace,
                                    reinterpret_cast<unsigned char*>(&size), 1);
                    transfers.push_back({req.requestor, prop, &s, 0});
                } else {
                    put(req.requestor, prop, s.type, s.format, s.bytes);
                }
                answered = prop;
            }
        }
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.display = p.d;
        reply.xselection.requestor = req.requestor;
        reply.xselection.selection = req.selection;
        reply.xselection.target = req.target;
        reply.xselection.property = answered;
        reply.xselection.time = req.time;
        XSendEvent(p.d, req.requestor, False, NoEventMask, &reply);
        XFlush(p.d);
        return true;
    }

    void handlePropertyDelete(const XPropertyEvent& ev) {
        for (auto it = transfers.begin(); it != transfers.end(); ++it) {
            if (it->window != ev.window || it->property != ev.atom) continue;
            std::size_t n = std::min(chunk, it->data->bytes.size() - it->offset);
            XChangeProperty(p.d, it->window, it->property, it->data->type, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(it->data->bytes.data() + it->offset), int(n));
            it->offset += n;
            if (n == 0) transfers.erase(it);
            XFlush(p.d);
            return;
        }
    }
};

int runOwn(int argc, char** argv) {
    Peer p;
    Owner owner(p);
    bool hang = false, stay = false;
    std::string targetsFile;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--targets" && i + 1 < argc)
            targetsFile = argv[++i];
        else if (a == "--chunk" && i + 1 < argc)
            owner.chunk = std::stoul(argv[++i]);
        else if (a == "--hang")
            hang = true;
        else if (a == "--stay")
            stay = true;
        else if (a == "--hang-target" && i + 1 < argc)
            owner.hangTargets.push_back(p.atom(argv[++i]));
        else
            fail("unknown option " + a);
    }
    std::ifstream in(targetsFile);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, type, format, path;
        std::getline(fields, name, '\t');
        std::getline(fields, type, '\t');
        std::getline(fields, format, '\t');
        std::getline(fields, path, '\t');
        if (name.empty()) continue;
        owner.add(p.atom(name), {p.atom(type), std::stoi(format), readFile(path)});
    }
    if (!owner.take()) fail("could not take the clipboard");
    std::printf("ready\n");
    std::fflush(stdout);
    if (hang)
        for (;;) pause();
    for (;;) {
        XEvent ev;
        XNextEvent(p.d, &ev);
        if (ev.type == SelectionRequest) {
            owner.handleRequest(ev.xselectionrequest);
        } else if (ev.type == PropertyNotify && ev.xproperty.state == PropertyDelete) {
            owner.handlePropertyDelete(ev.xproperty);
        } else if (ev.type == SelectionClear && ev.xselectionclear.selection == p.clipboard && !stay) {
            return 0;
        }
    }
}

int runRead(int argc, char** argv) {
    Peer p;
    std::string out, only, multipleList;
    int repeat = 1, timeoutMs = 5000, pauseMs = 0;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--out" && i + 1 < argc)
            out = argv[++i];
        else if (a == "--repeat-targets" && i + 1 < argc)
            repeat = std::stoi(argv[++i]);
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (a == "--multiple" && i + 1 < argc)
            multipleList = argv[++i];
        else if (a == "--timeout-ms" && i + 1 < argc)
            timeoutMs = std::stoi(argv[++i]);
        else if (a == "--pause-after-first-chunk-ms" && i + 1 < argc)
            pauseMs = std::stoi(argv[++i]);
        else
            fail("unknown option " + a);
    }
    if (out.empty()) fail("--out is required");
    mkdir(out.c_str(), 0700);
    auto save = [&](const std::string& dir, const std::string& name, const std::optional<Data>& data) {
        if (!data) {
            writeFile(dir + "/" + peerFileName(name) + ".refused", "");
            return;
        }
        writeFile(dir + "/" + peerFileName(name) + ".bin", data->bytes);
        writeFile(dir + "/" + peerFileName(name) + ".type", p.name(data->type) + " " + std::to_string(data->format));
    };
    if (!only.empty()) {
        save(out, only, p.convert(p.clipboard, p.atom(only), timeoutMs, pauseMs));
        return 0;
    }
    std::optional<Data> list;
    for (int i = 0; i < repeat; ++i) {
        list = p.convert(p.clipboard, p.targets, timeoutMs);
        if (!list) fail("TARGETS refused");
    }
    std::string names;
    for (Atom a : p.atomList(*list)) names += p.name(a) + "\n";
    writeFile(out + "/TARGETS.txt", names);
    writeFile(out + "/TARGETS.type", p.name(list->type) + " " + std::to_string(list->format));
    for (Atom a : p.atomList(*list)) {
        if (a == p.targets || a == p.multiple) continue;
        save(out, p.name(a), p.convert(p.clipboard, a, timeoutMs));
    }
    if (!multipleList.empty()) {
        std::vector<std::string> wanted;
        std::istringstream s(multipleList);
        for (std::string n; std::getline(s, n, ',');) wanted.push_back(n);
        std::vector<long> pairs;
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            pairs.push_back(long(p.atom(wanted[i])));
            pairs.push_back(long(p.atom("PEER_MULTI_" + std::to_string(i))));
        }
        Atom listProp = p.atom("PEER_MULTI");
        XChangeProperty(p.d, p.w, listProp, p.atomPair, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(pairs.data()), int(pairs.size()));
        XConvertSelection(p.d, p.clipboard, p.multiple, listProp, p.w, CurrentTime);
        XEvent ev;
        if (!p.waitEvent(
                &ev, [&](XEvent& e) { return e.type == SelectionNotify && e.xselection.target == p.multiple; },
                timeoutMs))
            fail("no answer for MULTIPLE");
        if (ev.xselection.property == None) fail("MULTIPLE refused");
        auto answer = p.getProperty(p.w, listProp, true);
        if (!answer) fail("MULTIPLE answer missing");
        auto atoms = p.atomList(*answer);
        std::string result;
        std::string dir = out + "/multiple";
        mkdir(dir.c_str(), 0700);
        for (std::size_t i = 0; i + 1 < atoms.size(); i += 2) {
            std::string n = p.name(atoms[i]);
            if (atoms[i + 1] == None) {
                result += n + " refused\n";
                continue;
            }
            result += n + " ok\n";
            save(dir, n, p.receive(atoms[i + 1], timeoutMs, 0));
        }
        writeFile(out + "/multiple.txt", result);
    }
    std::printf("done\n");
    return 0;
}

int runManager(int argc, char** argv) {
    Peer p;
    bool hang = false;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--hang")
            hang = true;
        else
            fail("unknown option " + a);
    }
    Time t = p.serverTime();
    XSetSelectionOwner(p.d, p.clipboardManager, p.w, t);
    if (XGetSelectionOwner(p.d, p.clipboardManager) != p.w) fail("could not become the clipboard manager");
    std::printf("ready\n");
    std::fflush(stdout);
    Owner owner(p);
    for (;;) {
        XEvent ev;
        XNextEvent(p.d, &ev);
        if (ev.type == SelectionRequest && ev.xselectionrequest.selection == p.clipboardManager) {
            auto req = ev.xselectionrequest;
            if (hang || req.target != p.saveTargets) continue;
            std::vector<Atom> wanted;
            if (req.property != None) {
                if (auto list = p.getProperty(req.requestor, req.property, false)) wanted = p.atomList(*list);
            }
            if (wanted.empty()) {
                if (auto list = p.convert(p.clipboard, p.targets, 5000)) wanted = p.atomList(*list);
            }
            Owner saved(p);
            for (Atom a : wanted) {
                if (a == p.targets || a == p.timestamp || a == p.multiple || a == p.saveTargets) continue;
                if (auto data = p.convert(p.clipboard, a, 5000)) saved.add(a, {data->type, data->format, data->bytes});
            }
            owner.content = saved.content;
            owner.order = saved.order;
            if (!owner.take()) fail("could not take the clipboard over");
            XEvent reply{};
            reply.xselection.type = SelectionNotify;
            reply.xselection.display = p.d;
            reply.xselection.requestor = req.requestor;
            reply.xselection.selection = req.selection;
            reply.xselection.target = req.target;
            reply.xselection.property = req.property == None ? req.target : req.property;
            reply.xselection.time = req.time;
            XSendEvent(p.d, req.requestor, False, NoEventMask, &reply);
            XFlush(p.d);
            std::printf("saved %zu\n", owner.order.size());
            std::fflush(stdout);
        } else if (ev.type == SelectionRequest) {
            owner.handleRequest(ev.xselectionrequest);
        } else if (ev.type == PropertyNotify && ev.xproperty.state == PropertyDelete) {
            owner.handlePropertyDelete(ev.xproperty);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) fail("usage: x11clip_test_peer own|read|manager ...");
    std::string mode = argv[1];
    try {
        if (mode == "own") return runOwn(argc - 2, argv + 2);
        if (mode == "read") return runRead(argc - 2, argv + 2);
        if (mode == "manager") return runManager(argc - 2, argv + 2);
    } catch (const std::exception& e) {
        fail(e.what());
    }
    fail("unknown mode " + mode);
}
