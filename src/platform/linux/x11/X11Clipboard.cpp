#include "platform/linux/x11/X11Clipboard.h"

#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <unordered_map>

#include "text/Text.h"

namespace quillant::linux_platform {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbPtr = std::unique_ptr<T, FreeDeleter>;
using EventPtr = XcbPtr<xcb_generic_event_t>;

constexpr std::string_view kPlainTextType = "text/plain;charset=utf-8";
constexpr std::size_t kOwnAcquisitionsKept = 16;
constexpr std::uint32_t kWholeProperty = 0x1fffffff;  // in 32-bit units, as GetProperty counts
// Real owners offer a few dozen targets; more is junk we do not look up.
constexpr std::size_t kMaxTargets = 1024;
constexpr std::size_t kFirstReadBytes = 64 * 1024;  // a longer value costs a second read

std::uint8_t eventType(const xcb_generic_event_t* ev) { return ev->response_type & 0x7f; }

TimePoint now() { return ContinuousClock::now(); }

std::string sizeText(std::size_t bytes) { return std::to_string(bytes) + " bytes"; }

std::string msText(Duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()) + " ms";
}

// X server times are 32-bit milliseconds that wrap around.
bool notBefore(xcb_timestamp_t t, xcb_timestamp_t reference) { return std::int32_t(t - reference) >= 0; }

}  // namespace

struct X11Clipboard::Impl {
    struct Entry {
        std::string name;
        xcb_atom_t atom;
        xcb_atom_t type;
        std::uint8_t format;
        clipboard::Bytes bytes;
    };
    struct Owned {
        xcb_timestamp_t time;
        std::vector<Entry> entries;
    };
    // An incremental transfer we serve: the requestor deletes the property,
    // we write the next chunk.
    struct Outgoing {
        xcb_window_t window;
        xcb_atom_t property;
        xcb_atom_t type;
        std::uint8_t format;
        clipboard::Bytes bytes;
        std::size_t offset;
        TimePoint lastActivity;
    };
    struct Received {
        xcb_atom_t type;
        std::uint8_t format;
        std::string bytes;
    };
    struct WireType {
        std::string type;
        std::uint8_t format;
    };

    CategoryLogger log;
    X11ClipboardLimits limits;
    xcb_connection_t* conn = nullptr;
    xcb_window_t window = XCB_NONE;
    std::uint8_t xfixesFirstEvent = 0;
    std::size_t chunkBytes = 0;
    bool broken = false;

    struct {
        xcb_atom_t clipboard, targets, multiple, timestamp, saveTargets, clipboardManager, incr, utf8String, timeProbe,
            saveList, wake;
    } atom{};
    std::unordered_map<std::string, xcb_atom_t> atomByName;
    std::unordered_map<xcb_atom_t, std::string> nameByAtom;

    std::int64_t changeCount = 0;
    Signal ownerAnnounced;          // XFixes told of a new owner that is not us
    std::int64_t contentReads = 0;  // our own content served to another program
    std::int64_t textReads = 0;     // of which text, by anyone
    std::unordered_map<std::uint32_t, std::int64_t> textReadsByClient;
    std::int64_t requests = 0;  // for the clipboard, of any kind, by anyone
    std::unordered_map<std::uint32_t, std::int64_t> requestsByClient;
    // The window each client last asked us from: where a wake is sent.
    std::unordered_map<std::uint32_t, xcb_window_t> requestorByClient;
    std::uint32_t clientBits = 0;   // the bits of a resource id that name its client
    std::int64_t readFailures = 0;  // foreign owners that did not answer in time
    // Our own acquisitions, counted when made; their XFixes echo is not counted again.
    std::deque<xcb_timestamp_t> ownAcquisitions;
    std::optional<Owned> owned;
    std::vector<Outgoing> outgoing;

    // The property foreign owners write into. Replaced after a transfer is
    // abandoned, so that a late writer cannot mix into a later transfer.
    xcb_atom_t readSlot = XCB_NONE;
    unsigned retiredSlots = 0;
    ReadPass pass;
    std::optional<std::pair<std::uint64_t, std::vector<std::string>>> targetsCache;
    // The property type and format that each target name last arrived in, so
    // that a restore serves them the way the owner did.
    std::unordered_map<std::string, WireType> wireTypes;

    Impl(Logger& logger, const std::string& display, X11ClipboardLimits l)
        : log(logger, std::string(kLogSubsystem), "clipboard"), limits(l), pass(l.readPassTimeout, l.maxPassBytes) {
        int screenNumber = 0;
        conn = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
        if (!conn || xcb_connection_has_error(conn)) {
            if (conn) xcb_disconnect(conn);
            const char* env = std::getenv("DISPLAY");
            throw std::runtime_error("cannot open the X display " +
                                     (display.empty() ? std::string(env ? env : "(DISPLAY is not set)") : display));
        }
        auto* ext = xcb_get_extension_data(conn, &xcb_xfixes_id);
        if (!ext || !ext->present) {
            xcb_disconnect(conn);
            throw std::runtime_error("the X server lacks the XFIXES extension");
        }
        xfixesFirstEvent = ext->first_event;
        clientBits = ~xcb_get_setup(conn)->resource_id_mask;
        XcbPtr<xcb_xfixes_query_version_reply_t> version(
            xcb_xfixes_query_version_reply(conn, xcb_xfixes_query_version(conn, 5, 0), nullptr));

        auto it = xcb_setup_roots_iterator(xcb_get_setup(conn));
        for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
        window = xcb_generate_id(conn);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_create_window(conn, 0, window, it.data->root, -10, -10, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        static constexpr std::string_view kName = "quillant clipboard";
        static constexpr char kClass[] = "quillant\0Quillant";
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            std::uint32_t(kName.size()), kName.data());
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof kClass,
                            kClass);

        auto a = intern({"CLIPBOARD", "TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "CLIPBOARD_MANAGER", "INCR",
                         "UTF8_STRING", "QUILLANT_TIME", "QUILLANT_SAVE_TARGETS", "QUILLANT_SELECTION",
                         "_QUILLANT_WAKE"});
        atom = {a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[11]};
        readSlot = a[10];

        xcb_xfixes_select_selection_input(conn, window, atom.clipboard,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        // A request may not exceed the server's maximum length; chunks stay well below it.
        std::size_t maxRequest = std::size_t(xcb_get_maximum_request_length(conn)) * 4;
        chunkBytes = std::min(limits.incrChunkBytes, maxRequest - 1024) & ~std::size_t(3);
        if (chunkBytes < 4096) chunkBytes = 4096;
        xcb_flush(conn);
    }

    ~Impl() {
        if (!broken) xcb_destroy_window(conn, window);
        xcb_disconnect(conn);
    }

    bool checkBroken() {
        if (!broken && xcb_connection_has_error(conn)) {
            broken = true;
            log.error("lost the connection to the X server; the clipboard is out of reach");
        }
        return broken;
    }

    // ---- atoms

    std::vector<xcb_atom_t> intern(const std::vector<std::string>& names) {
        std::vector<xcb_atom_t> out(names.size(), XCB_NONE);
        std::vector<std::optional<xcb_intern_atom_cookie_t>> cookies(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            auto it = atomByName.find(names[i]);
            if (it != atomByName.end())
                out[i] = it->second;
            else
                cookies[i] = xcb_intern_atom(conn, 0, std::uint16_t(names[i].size()), names[i].data());
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!cookies[i]) continue;
            XcbPtr<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(conn, *cookies[i], nullptr));
            if (!r) continue;
            out[i] = r->atom;
            atomByName[names[i]] = r->atom;
            nameByAtom[r->atom] = names[i];
        }
        return out;
    }

    xcb_atom_t intern(const std::string& name) { return intern(std::vector<std::string>{name})[0]; }

    std::vector<std::string> atomNames(const std::vector<xcb_atom_t>& atoms) {
        std::vector<std::string> out(atoms.size());
        std::vector<std::optional<xcb_get_atom_name_cookie_t>> cookies(atoms.size());
        for (std::size_t i = 0; i < atoms.size(); ++i) {
            if (atoms[i] == XCB_NONE) continue;
            auto it = nameByAtom.find(atoms[i]);
            if (it != nameByAtom.end())
                out[i] = it->second;
            else
                cookies[i] = xcb_get_atom_name(conn, atoms[i]);
        }
        for (std::size_t i = 0; i < atoms.size(); ++i) {
            if (!cookies[i]) continue;
            XcbPtr<xcb_get_atom_name_reply_t> r(xcb_get_atom_name_reply(conn, *cookies[i], nullptr));
            if (!r) continue;
            out[i].assign(xcb_get_atom_name_name(r.get()), std::size_t(xcb_get_atom_name_name_length(r.get())));
            nameByAtom[atoms[i]] = out[i];
            atomByName[out[i]] = atoms[i];
        }
        return out;
    }

    std::string atomName(xcb_atom_t a) { return atomNames({a})[0]; }

    // ---- events

    void drain() {
        if (broken) return;
        while (EventPtr ev{xcb_poll_for_event(conn)}) dispatch(ev.get());
        purgeStaleTransfers();
        xcb_flush(conn);
        checkBroken();
    }

    // Waits for the first event that `matches`, handling every other event
    // meanwhile (so we keep serving while we wait). Null at the deadline.
    template <class Pred>
    EventPtr waitFor(Pred matches, TimePoint deadline) {
        for (;;) {
            while (EventPtr ev{xcb_poll_for_event(conn)}) {
                if (matches(ev.get())) return ev;
                dispatch(ev.get());
            }
            xcb_flush(conn);
            if (checkBroken()) return nullptr;
            auto left = deadline - now();
            if (left <= Duration::zero()) return nullptr;
            auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            pollfd p{xcb_get_file_descriptor(conn), POLLIN, 0};
            ::poll(&p, 1, int(std::min<long long>(ms, 1000)));
        }
    }

    void dispatch(const xcb_generic_event_t* ev) {
        auto type = eventType(ev);
        if (type == 0) return;  // an error of an unchecked request, typically a requestor window that went away
        if (type == XCB_SELECTION_REQUEST)
            serve(*reinterpret_cast<const xcb_selection_request_event_t*>(ev));
        else if (type == XCB_SELECTION_CLEAR)
            onSelectionClear(*reinterpret_cast<const xcb_selection_clear_event_t*>(ev));
        else if (type == XCB_PROPERTY_NOTIFY)
            onPropertyNotify(*reinterpret_cast<const xcb_property_notify_event_t*>(ev));
        else if (type == xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY)
            onOwnerChange(*reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(ev));
    }

    void onOwnerChange(const xcb_xfixes_selection_notify_event_t& ev) {
        if (ev.selection != atom.clipboard) return;
        if (ev.subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER && ev.owner == window) {
            auto it = std::find(ownAcquisitions.begin(), ownAcquisitions.end(), ev.selection_timestamp);
            if (it != ownAcquisitions.end()) {
                ownAcquisitions.erase(it);
                return;
            }
        }
        ++changeCount;
        ownerAnnounced.notify();
    }

    void onSelectionClear(const xcb_selection_clear_event_t& ev) {
        // A clear older than our latest acquisition is stale.
        if (ev.selection == atom.clipboard && owned && notBefore(ev.time, owned->time)) owned.reset();
    }

    // ---- serving

    void serve(const xcb_selection_request_event_t& req) {
        xcb_atom_t answered = XCB_NONE;
        requestorByClient[req.requestor & clientBits] = req.requestor;
        if (req.selection == atom.clipboard) {
            ++requests;
            ++requestsByClient[req.requestor & clientBits];
        }
        if (req.selection == atom.clipboard && owned &&
            (req.time == XCB_CURRENT_TIME || owned->time == XCB_CURRENT_TIME || notBefore(req.time, owned->time))) {
            // Obsolete requestors leave the property out and mean the target's name.
            xcb_atom_t property = req.property == XCB_NONE ? req.target : req.property;
            if (convertInto(req.requestor, req.target, property, true)) answered = property;
        }
        xcb_selection_notify_event_t n{};
        n.response_type = XCB_SELECTION_NOTIFY;
        n.time = req.time;
        n.requestor = req.requestor;
        n.selection = req.selection;
        n.target = req.target;
        n.property = answered;
        xcb_send_event(conn, 0, req.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&n));
        xcb_flush(conn);
    }

    bool convertInto(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property, bool topLevel) {
        if (target == atom.targets) {
            std::vector<xcb_atom_t> list{atom.targets, atom.timestamp, atom.multiple};
            for (auto& e : owned->entries) list.push_back(e.atom);
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM, 32,
                                std::uint32_t(list.size()), list.data());
            return true;
        }
        if (target == atom.timestamp) {
            std::uint32_t t = owned->time;
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1, &t);
            return true;
        }
        if (target == atom.multiple) return topLevel && serveMultiple(requestor, property);
        for (auto& e : owned->entries)
            if (e.atom == target) {
                sendData(requestor, property, e.type, e.format, e.bytes);
                ++contentReads;
                if (carriesText(e.name)) {
                    ++textReads;
                    ++textReadsByClient[requestor & clientBits];
                }
                return true;
            }
        return false;
    }

    // MULTIPLE: the property holds (target, property) pairs; a pair we cannot
    // convert gets None as its property.
    bool serveMultiple(xcb_window_t requestor, xcb_atom_t property) {
        XcbPtr<xcb_get_property_reply_t> r(xcb_get_property_reply(
            conn, xcb_get_property(conn, 0, requestor, property, XCB_GET_PROPERTY_TYPE_ANY, 0, kWholeProperty),
            nullptr));
        if (!r || r->format != 32 || r->type == XCB_NONE) return false;
        auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(r.get()));
        std::vector<std::uint32_t> pairs(values, values + (r->value_len & ~1u));
        for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
            if (pairs[i + 1] == XCB_NONE || !convertInto(requestor, pairs[i], pairs[i + 1], false))
                pairs[i + 1] = XCB_NONE;
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, requestor, property, r->type, 32, std::uint32_t(pairs.size()),
                            pairs.data());
        return true;
    }

    void sendData(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type, std::uint8_t format,
                  const clipboard::Bytes& bytes) {
        std::size_t unit = format / 8;
        std::erase_if(outgoing, [&](auto& o) { return o.window == requestor && o.property == property; });
        if (bytes.size() <= chunkBytes) {
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, requestor, property, type, format,
                                std::uint32_t(bytes.size() / unit), bytes.data());
            return;
        }
        // Watch the requestor's deletions before announcing, so none is missed.
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(conn, requestor, XCB_CW_EVENT_MASK, &mask);
        std::uint32_t announced = std::uint32_t(std::min<std::size_t>(bytes.size(), UINT32_MAX));
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, requestor, property, atom.incr, 32, 1, &announced);
        outgoing.push_back({requestor, property, type, format, bytes, 0, now()});
    }

    void onPropertyNotify(const xcb_property_notify_event_t& ev) {
        if (ev.window == window || ev.state != XCB_PROPERTY_DELETE) return;
        auto it = std::find_if(outgoing.begin(), outgoing.end(),
                               [&](auto& o) { return o.window == ev.window && o.property == ev.atom; });
        if (it == outgoing.end()) return;
        auto& o = *it;
        std::size_t n = std::min(chunkBytes, o.bytes.size() - o.offset);
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, o.window, o.property, o.type, o.format,
                            std::uint32_t(n / (o.format / 8)), o.bytes.data() + o.offset);
        o.offset += n;
        o.lastActivity = now();
        if (n == 0) finishOutgoing(it);  // the zero-length chunk ends the transfer
    }

    void finishOutgoing(std::vector<Outgoing>::iterator it) {
        xcb_window_t w = it->window;
        outgoing.erase(it);
        if (std::none_of(outgoing.begin(), outgoing.end(), [&](auto& o) { return o.window == w; })) {
            const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
            xcb_change_window_attributes(conn, w, XCB_CW_EVENT_MASK, &none);
        }
    }

    void purgeStaleTransfers() {
        auto t = now();
        for (auto it = outgoing.begin(); it != outgoing.end();) {
            if (t - it->lastActivity > limits.staleTransferTimeout) {
                log.error("dropped a clipboard transfer that the receiving program stopped taking");
                xcb_window_t w = it->window;
                it = outgoing.erase(it);
                if (std::none_of(outgoing.begin(), outgoing.end(), [&](auto& o) { return o.window == w; })) {
                    const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
                    xcb_change_window_attributes(conn, w, XCB_CW_EVENT_MASK, &none);
                }
            } else {
                ++it;
            }
        }
    }

    // ---- ownership

    // A server timestamp for SetSelectionOwner: a zero-length append to our
    // own window reports the server's time.
    xcb_timestamp_t serverTime() {
        xcb_change_property(conn, XCB_PROP_MODE_APPEND, window, atom.timeProbe, XCB_ATOM_INTEGER, 8, 0, nullptr);
        auto ev = waitFor(
            [&](const xcb_generic_event_t* e) {
                if (eventType(e) != XCB_PROPERTY_NOTIFY) return false;
                auto* pn = reinterpret_cast<const xcb_property_notify_event_t*>(e);
                return pn->window == window && pn->atom == atom.timeProbe;
            },
            now() + std::chrono::seconds(2));
        return ev ? reinterpret_cast<const xcb_property_notify_event_t*>(ev.get())->time : XCB_CURRENT_TIME;
    }

    xcb_window_t currentOwner(xcb_atom_t selection) {
        XcbPtr<xcb_get_selection_owner_reply_t> r(
            xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, selection), nullptr));
        return r ? r->owner : XCB_NONE;
    }

    void takeOwnership(std::vector<Entry> entries) {
        if (broken) return;
        drain();
        auto time = serverTime();
        xcb_set_selection_owner(conn, window, atom.clipboard, time);
        if (currentOwner(atom.clipboard) != window) {
            log.error("could not take the clipboard");
            owned.reset();
            return;
        }
        owned = Owned{time, std::move(entries)};
        ownAcquisitions.push_back(time);
        if (ownAcquisitions.size() > kOwnAcquisitionsKept) ownAcquisitions.pop_front();
        ++changeCount;
    }

    bool weOwn() {
        drain();
        if (broken || !owned) return false;
        if (currentOwner(atom.clipboard) != window) {
            owned.reset();
            return false;
        }
        return true;
    }

    const Entry* ownEntry(const std::string& name) const {
        for (auto& e : owned->entries)
            if (e.name == name) return &e;
        return nullptr;
    }

    // ---- reading a foreign owner

    // Replies we waited for may have brought events along that xcb keeps
    // queued without the descriptor becoming readable again; every public
    // call handles them before it returns.
    struct Settle {
        explicit Settle(Impl& i) : impl(i) {}
        ~Settle() { impl.drain(); }
        Impl& impl;
    };

    struct PassScope {
        explicit PassScope(Impl& i) : pass(i.pass) {
            i.drain();  // so that a new owner is known before the pass begins
            pass.begin(now(), i.changeCount);
        }
        ~PassScope() { pass.end(now()); }
        ReadPass& pass;
    };

    void retireReadSlot() { readSlot = intern("QUILLANT_SELECTION_" + std::to_string(++retiredSlots)); }

    std::optional<Received> convertForeign(xcb_atom_t target, const std::string& name) {
        if (broken) return std::nullopt;
        if (pass.expired(now())) {
            ++readFailures;
            log.error("left " + name + " out of the clipboard copy: its owner used up the time for reading");
            return std::nullopt;
        }
        xcb_atom_t slot = readSlot;
        xcb_delete_property(conn, window, slot);
        xcb_convert_selection(conn, window, atom.clipboard, target, slot, XCB_CURRENT_TIME);
        auto ev = waitFor(
            [&](const xcb_generic_event_t* e) {
                if (eventType(e) != XCB_SELECTION_NOTIFY) return false;
                auto* sn = reinterpret_cast<const xcb_selection_notify_event_t*>(e);
                return sn->requestor == window && sn->selection == atom.clipboard && sn->target == target &&
                       (sn->property == slot || sn->property == XCB_NONE);
            },
            pass.waitDeadline(now(), limits.requestTimeout));
        if (!ev) {
            retireReadSlot();
            ++readFailures;
            log.error("the clipboard owner did not answer for " + name + " within " + msText(limits.requestTimeout));
            return std::nullopt;
        }
        if (reinterpret_cast<const xcb_selection_notify_event_t*>(ev.get())->property == XCB_NONE)
            return std::nullopt;  // the owner refused this target
        return readProperty(slot, name);
    }

    std::optional<Received> readProperty(xcb_atom_t slot, const std::string& name) {
        std::size_t allowance = pass.allowance(limits.maxTargetBytes);
        // A short value (a target list, a selected sentence) comes whole with
        // its first read, which leaves it in place: an INCR announcement
        // must not be deleted before its size is checked. The deletion then
        // needs no answer, so one round trip is saved on every read.
        const std::size_t firstBytes = std::min(allowance, kFirstReadBytes);
        XcbPtr<xcb_get_property_reply_t> head(xcb_get_property_reply(
            conn,
            xcb_get_property(conn, 0, window, slot, XCB_GET_PROPERTY_TYPE_ANY, 0, std::uint32_t((firstBytes + 3) / 4)),
            nullptr));
        if (!head || head->type == XCB_NONE) return std::nullopt;
        if (head->type == atom.incr) return readIncremental(slot, name);
        const auto firstLength = std::size_t(xcb_get_property_value_length(head.get()));
        std::size_t size = firstLength + head->bytes_after;
        if (head->bytes_after == 0 && size <= allowance) {
            xcb_delete_property(conn, window, slot);
            auto* value = static_cast<const char*>(xcb_get_property_value(head.get()));
            Received out{head->type, head->format, std::string(value, firstLength)};
            pass.consume(out.bytes.size());
            return out;
        }
        if (size > allowance) {
            xcb_delete_property(conn, window, slot);
            leftOutForSize(name, size, allowance);
            return std::nullopt;
        }
        XcbPtr<xcb_get_property_reply_t> r(xcb_get_property_reply(
            conn, xcb_get_property(conn, 1, window, slot, XCB_GET_PROPERTY_TYPE_ANY, 0, std::uint32_t((size + 3) / 4)),
            nullptr));
        if (!r) return std::nullopt;
        auto* value = static_cast<const char*>(xcb_get_property_value(r.get()));
        Received out{r->type, r->format, std::string(value, std::size_t(xcb_get_property_value_length(r.get())))};
        pass.consume(out.bytes.size());
        return out;
    }

    std::optional<Received> readIncremental(xcb_atom_t slot, const std::string& name) {
        XcbPtr<xcb_get_property_reply_t> announce(
            xcb_get_property_reply(conn, xcb_get_property(conn, 0, window, slot, atom.incr, 0, 1), nullptr));
        std::size_t announced = 0;
        if (announce && announce->format == 32 && announce->value_len == 1)
            announced = *static_cast<const std::uint32_t*>(xcb_get_property_value(announce.get()));
        std::size_t allowance = pass.allowance(limits.maxTargetBytes);
        if (announced > allowance) {
            // Leaving the announcement in place keeps the owner from starting.
            retireReadSlot();
            leftOutForSize(name, announced, allowance);
            return std::nullopt;
        }
        // Deleting the announcement asks for the first chunk.
        xcb_delete_property(conn, window, slot);
        Received out{XCB_NONE, 8, {}};
        out.bytes.reserve(announced);
        bool typed = false;
        for (;;) {
            auto ev = waitFor(
                [&](const xcb_generic_event_t* e) {
                    if (eventType(e) != XCB_PROPERTY_NOTIFY) return false;
                    auto* pn = reinterpret_cast<const xcb_property_notify_event_t*>(e);
                    return pn->window == window && pn->atom == slot && pn->state == XCB_PROPERTY_NEW_VALUE;
                },
                pass.waitDeadline(now(), limits.requestTimeout));
            if (!ev) {
                retireReadSlot();
                ++readFailures;
                log.error("the clipboard owner stopped sending " + name + " after " + sizeText(out.bytes.size()));
                return std::nullopt;
            }
            std::size_t room = allowance - out.bytes.size();
            XcbPtr<xcb_get_property_reply_t> r(xcb_get_property_reply(
                conn,
                xcb_get_property(conn, 1, window, slot, XCB_GET_PROPERTY_TYPE_ANY, 0, std::uint32_t(room / 4 + 1)),
                nullptr));
            if (!r) return std::nullopt;
            auto length = std::size_t(xcb_get_property_value_length(r.get()));
            if (r->bytes_after > 0 || length > room) {
                retireReadSlot();
                leftOutForSize(name, out.bytes.size() + length + r->bytes_after, allowance);
                return std::nullopt;
            }
            if (!typed || length > 0) {
                out.type = r->type;
                out.format = r->format ? r->format : 8;
                typed = true;
            }
            if (length == 0) break;
            out.bytes.append(static_cast<const char*>(xcb_get_property_value(r.get())), length);
        }
        pass.consume(out.bytes.size());
        return out;
    }

    void leftOutForSize(const std::string& name, std::size_t size, std::size_t allowance) {
        log.error("left " + name + " out of the clipboard copy: " + sizeText(size) + " is over the bound of " +
                  sizeText(allowance));
    }

    // The owner's TARGETS answer, as names; asked once per read pass, so that
    // itemCount() and types() of a hung owner wait only once.
    std::vector<std::string> foreignTargets() {
        if (targetsCache && targetsCache->first == pass.generation()) return targetsCache->second;
        std::vector<std::string> names;
        auto r = convertForeign(atom.targets, "TARGETS");
        if (r && r->format == 32) {
            std::vector<xcb_atom_t> atoms(std::min(r->bytes.size() / 4, kMaxTargets));
            std::memcpy(atoms.data(), r->bytes.data(), atoms.size() * 4);
            names = atomNames(atoms);
        }
        targetsCache.emplace(pass.generation(), names);
        return names;
    }

    // False for a target the owner left out of the TARGETS it gave in this
    // pass: asking for it anyway costs a round trip through the owner only to
    // be refused (Chromium's custom data, on every copy from a plain page).
    bool mayOffer(const std::string& name) const {
        if (!targetsCache || targetsCache->first != pass.generation() || targetsCache->second.empty()) return true;
        const auto& listed = targetsCache->second;
        return std::find(listed.begin(), listed.end(), name) != listed.end();
    }

    static std::vector<std::string> contentOnly(const std::vector<std::string>& names) {
        std::vector<std::string> out;
        for (auto& n : names)
            if (isContentTarget(n) && std::find(out.begin(), out.end(), n) == out.end()) out.push_back(n);
        return out;
    }

    std::optional<SelectionData> fetchForeign(const std::string& name) {
        xcb_atom_t target = intern(name);
        if (target == XCB_NONE) return std::nullopt;
        auto r = convertForeign(target, name);
        if (!r) return std::nullopt;
        std::string type = atomName(r->type);
        if (isContentTarget(name)) wireTypes[name] = {type, r->format};
        return SelectionData{type, r->format, clipboard::Bytes(std::move(r->bytes))};
    }

    // A content target's bytes, from us or the foreign owner. The owner is
    // not asked for first: with none, the server itself refuses the
    // conversion at once, and asking would cost every read a round trip.
    std::optional<clipboard::Bytes> content(const std::string& name) {
        if (!isContentTarget(name)) return std::nullopt;
        if (weOwn()) {
            auto* e = ownEntry(name);
            return e ? std::optional(e->bytes) : std::nullopt;
        }
        PassScope scope(*this);
        if (!mayOffer(name)) return std::nullopt;
        auto d = fetchForeign(name);
        return d ? std::optional(d->bytes) : std::nullopt;
    }

    std::vector<std::string> contentTypes() {
        if (weOwn()) {
            std::vector<std::string> out;
            for (auto& e : owned->entries) out.push_back(e.name);
            return out;
        }
        if (broken) return {};
        PassScope scope(*this);
        return contentOnly(foreignTargets());
    }

    std::vector<Entry> entriesFor(const clipboard::PasteboardItemData& item) {
        std::vector<std::string> names;
        std::vector<const clipboard::Bytes*> bytes;
        for (auto& [name, b] : item.entries) {
            if (!isContentTarget(name)) continue;
            names.push_back(name);
            bytes.push_back(&b);
        }
        auto atoms = intern(names);
        std::vector<Entry> entries;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (atoms[i] == XCB_NONE) continue;
            Entry e{names[i], atoms[i], atoms[i], 8, *bytes[i]};
            auto wt = wireTypes.find(names[i]);
            if (wt != wireTypes.end() &&
                (wt->second.format == 8 || wt->second.format == 16 || wt->second.format == 32)) {
                std::size_t unit = wt->second.format / 8;
                xcb_atom_t type = wt->second.type.empty() ? XCB_NONE : intern(wt->second.type);
                if (type != XCB_NONE && e.bytes.size() % unit == 0) {
                    e.type = type;
                    e.format = wt->second.format;
                }
            }
            entries.push_back(std::move(e));
        }
        bool hasUTF8String =
            std::any_of(entries.begin(), entries.end(), [](auto& e) { return e.name == "UTF8_STRING"; });
        auto plain = std::find_if(entries.begin(), entries.end(), [](auto& e) { return e.name == kPlainTextType; });
        if (!hasUTF8String && plain != entries.end()) {
            auto b = plain->bytes;
            entries.push_back({"UTF8_STRING", atom.utf8String, atom.utf8String, 8, b});
        }
        return entries;
    }
};

X11Clipboard::X11Clipboard(Logger& logger, const std::string& display, X11ClipboardLimits limits)
    : impl_(std::make_unique<Impl>(logger, display, limits)) {}

X11Clipboard::~X11Clipboard() = default;

int X11Clipboard::fd() const { return xcb_get_file_descriptor(impl_->conn); }

bool X11Clipboard::connected() const { return !impl_->broken && !xcb_connection_has_error(impl_->conn); }

void X11Clipboard::processPendingEvents() { impl_->drain(); }

std::optional<std::int64_t> X11Clipboard::contentReadCount() {
    impl_->drain();
    return impl_->contentReads;
}

std::optional<std::int64_t> X11Clipboard::textReadsBy(std::optional<clipboard::WindowId> window) {
    impl_->drain();
    if (!window) return impl_->textReads;
    auto it = impl_->textReadsByClient.find(std::uint32_t(*window) & impl_->clientBits);
    return it == impl_->textReadsByClient.end() ? 0 : it->second;
}

std::optional<std::int64_t> X11Clipboard::requestsBy(std::optional<clipboard::WindowId> window) {
    impl_->drain();
    if (!window) return impl_->requests;
    auto it = impl_->requestsByClient.find(std::uint32_t(*window) & impl_->clientBits);
    return it == impl_->requestsByClient.end() ? 0 : it->second;
}

std::int64_t X11Clipboard::readFailures() {
    impl_->drain();
    return impl_->readFailures;
}

std::int64_t X11Clipboard::changeCount() {
    impl_->drain();
    return impl_->changeCount;
}

std::optional<Subscription> X11Clipboard::onChange(std::function<void()> observer) {
    return impl_->ownerAnnounced.connect(std::move(observer));
}

std::size_t X11Clipboard::itemCount() {
    Impl::Settle settle(*impl_);
    return impl_->contentTypes().empty() ? 0 : 1;
}

std::vector<std::string> X11Clipboard::types(std::size_t item) {
    Impl::Settle settle(*impl_);
    if (item != 0) return {};
    return impl_->contentTypes();
}

std::optional<clipboard::Bytes> X11Clipboard::data(std::size_t item, const std::string& type) {
    Impl::Settle settle(*impl_);
    if (item != 0) return std::nullopt;
    return impl_->content(type);
}

std::optional<clipboard::Bytes> X11Clipboard::dataForType(const std::string& type) {
    Impl::Settle settle(*impl_);
    return impl_->content(type);
}

std::optional<std::string> X11Clipboard::stringForType(const std::string& type) {
    Impl::Settle settle(*impl_);
    auto candidates = plainTextFallbacks(type);
    if (candidates.empty()) {
        auto b = impl_->content(type);
        if (!b || !text::isValidUTF8(b->view())) return std::nullopt;
        return b->str();
    }
    Impl::PassScope scope(*impl_);
    auto offered = impl_->contentTypes();
    if (offered.empty()) offered = {type};  // an owner that does not list its targets may still convert
    for (auto& name : candidates) {
        if (std::find(offered.begin(), offered.end(), name) == offered.end()) continue;
        auto b = impl_->content(name);
        if (!b) continue;
        if (name == "STRING") return latin1ToUTF8(b->view());
        if (text::isValidUTF8(b->view())) return b->str();
    }
    return std::nullopt;
}

void X11Clipboard::clearContents() {
    Impl::Settle settle(*impl_);
    impl_->takeOwnership({});
}

void X11Clipboard::writeItems(const std::vector<clipboard::PasteboardItemData>& items) {
    Impl::Settle settle(*impl_);
    if (impl_->broken) return;
    // One selection holds one item's targets; further items have no place on X11.
    impl_->takeOwnership(items.empty() ? std::vector<Impl::Entry>{} : impl_->entriesFor(items.front()));
}

bool X11Clipboard::reannounce() {
    Impl::Settle settle(*impl_);
    if (!impl_->weOwn()) return false;
    auto entries = impl_->owned->entries;
    impl_->takeOwnership(std::move(entries));
    return impl_->owned.has_value();
}

bool X11Clipboard::wake(std::optional<clipboard::WindowId> window) {
    auto& i = *impl_;
    if (!window || i.broken) return false;
    auto it = i.requestorByClient.find(std::uint32_t(*window) & i.clientBits);
    if (it == i.requestorByClient.end()) return false;
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = it->second;
    m.type = i.atom.wake;
    xcb_send_event(i.conn, 0, it->second, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&m));
    xcb_flush(i.conn);
    return true;
}

bool X11Clipboard::ownsClipboard() {
    Impl::Settle settle(*impl_);
    return impl_->weOwn();
}

std::vector<std::string> X11Clipboard::ownerTargets() {
    Impl::Settle settle(*impl_);
    auto& i = *impl_;
    if (i.weOwn()) {
        std::vector<std::string> out{"TARGETS", "TIMESTAMP", "MULTIPLE"};
        for (auto& e : i.owned->entries) out.push_back(e.name);
        return out;
    }
    if (i.broken || i.currentOwner(i.atom.clipboard) == XCB_NONE) return {};
    Impl::PassScope scope(i);
    return i.foreignTargets();
}

std::optional<SelectionData> X11Clipboard::fetch(const std::string& target) {
    Impl::Settle settle(*impl_);
    auto& i = *impl_;
    if (i.weOwn()) {
        auto* e = i.ownEntry(target);
        if (!e) return std::nullopt;
        return SelectionData{i.atomName(e->type), e->format, e->bytes};
    }
    if (i.broken || i.currentOwner(i.atom.clipboard) == XCB_NONE) return std::nullopt;
    Impl::PassScope scope(i);
    return i.fetchForeign(target);
}

bool X11Clipboard::handOverToClipboardManager(std::chrono::milliseconds bound) {
    Impl::Settle settle(*impl_);
    auto& i = *impl_;
    if (!i.weOwn() || i.owned->entries.empty()) return false;
    if (i.currentOwner(i.atom.clipboardManager) == XCB_NONE) {
        i.log.info("no clipboard manager runs; the clipboard empties when quillant quits");
        return false;
    }
    std::vector<xcb_atom_t> list;
    for (auto& e : i.owned->entries) list.push_back(e.atom);
    xcb_change_property(i.conn, XCB_PROP_MODE_REPLACE, i.window, i.atom.saveList, XCB_ATOM_ATOM, 32,
                        std::uint32_t(list.size()), list.data());
    xcb_convert_selection(i.conn, i.window, i.atom.clipboardManager, i.atom.saveTargets, i.atom.saveList,
                          XCB_CURRENT_TIME);
    auto ev = i.waitFor(
        [&](const xcb_generic_event_t* e) {
            if (eventType(e) != XCB_SELECTION_NOTIFY) return false;
            auto* sn = reinterpret_cast<const xcb_selection_notify_event_t*>(e);
            return sn->requestor == i.window && sn->selection == i.atom.clipboardManager &&
                   sn->target == i.atom.saveTargets;
        },
        now() + bound);
    if (!ev) {
        i.log.error("the clipboard manager did not take the clipboard within " + msText(bound));
        return false;
    }
    bool saved = reinterpret_cast<const xcb_selection_notify_event_t*>(ev.get())->property != XCB_NONE;
    if (saved)
        i.log.info("handed the clipboard to the clipboard manager");
    else
        i.log.error("the clipboard manager refused to take the clipboard");
    return saved;
}

}  // namespace quillant::linux_platform
