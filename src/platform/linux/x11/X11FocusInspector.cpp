#include "platform/linux/x11/X11FocusInspector.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/linux/x11/XcbConnect.h"

namespace quillant::linux_platform {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

constexpr xcb_window_t kPointerRoot = 1;  // X's PointerRoot focus
// Window managers put clients at most a few frames deep.
constexpr int kFrameDepth = 3;

}  // namespace

X11FocusInspector::X11FocusInspector(const std::string& display) {
    const XcbDisplay x = connectToDisplay(display);
    connection_ = x.connection;
    root_ = x.root;
    static constexpr std::string_view kName = "_NET_ACTIVE_WINDOW";
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, std::uint16_t(kName.size()), kName.data()), nullptr));
    if (atom) netActiveWindow_ = atom->atom;
}

X11FocusInspector::~X11FocusInspector() { xcb_disconnect(connection_); }

std::optional<X11FocusInspector::Names> X11FocusInspector::wmClass(xcb_window_t window) {
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
    if (!r || r->type != XCB_ATOM_STRING || r->format != 8) return std::nullopt;
    const char* value = static_cast<const char*>(xcb_get_property_value(r.get()));
    const std::string bytes(value, std::size_t(xcb_get_property_value_length(r.get())));
    // "instance\0class\0"; a missing class leaves it empty.
    const auto split = bytes.find('\0');
    Names names;
    names.instance = bytes.substr(0, split);
    if (split != std::string::npos) {
        names.className = bytes.substr(split + 1);
        if (auto end = names.className.find('\0'); end != std::string::npos) names.className.resize(end);
    }
    return names;
}

std::optional<X11FocusInspector::Client> X11FocusInspector::clientAbove(xcb_window_t window) {
    for (int steps = 0; window != XCB_NONE && window != root_ && steps < 64; ++steps) {
        if (auto names = wmClass(window)) return Client{window, std::move(*names)};
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
        if (!tree) return std::nullopt;
        window = tree->parent;
    }
    return std::nullopt;
}

std::optional<X11FocusInspector::Client> X11FocusInspector::clientBelow(xcb_window_t window, int depth) {
    if (depth < 0) return std::nullopt;
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
    if (!tree) return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    for (int i = count - 1; i >= 0; --i)  // topmost first
        if (auto names = wmClass(children[i])) return Client{children[i], std::move(*names)};
    for (int i = count - 1; i >= 0; --i)
        if (auto found = clientBelow(children[i], depth - 1)) return found;
    return std::nullopt;
}

xcb_window_t X11FocusInspector::activeWindow() {
    if (netActiveWindow_ == XCB_NONE) return XCB_NONE;
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, root_, netActiveWindow_, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr));
    if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 4) return XCB_NONE;
    xcb_window_t window;
    std::memcpy(&window, xcb_get_property_value(r.get()), sizeof window);
    return window;
}

std::optional<clipboard::FocusedApplication> X11FocusInspector::focusedApplication() {
    if (xcb_connection_has_error(connection_)) return std::nullopt;
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    xcb_window_t window = focus ? focus->focus : XCB_NONE;
    std::optional<Client> client;
    if (window != XCB_NONE && window != kPointerRoot && window != root_) {
        client = clientAbove(window);
        // Some window managers focus their frame around the client.
        if (!client) client = clientBelow(window, kFrameDepth);
    }
    if (!client) {
        if (xcb_window_t active = activeWindow(); active != XCB_NONE) {
            client = clientAbove(active);
            if (!client) client = clientBelow(active, kFrameDepth);
            if (!client) window = active;
        }
    }
    if (!client) {
        if (window == XCB_NONE || window == kPointerRoot || window == root_) return std::nullopt;
        return clipboard::FocusedApplication{window, {}, {}};  // a window that does not name itself
    }
    return clipboard::FocusedApplication{client->window, std::move(client->names.instance),
                                         std::move(client->names.className)};
}

}  // namespace quillant::linux_platform
