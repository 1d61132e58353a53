#pragma once

#include <xcb/xcb.h>
// A member of xcb/xkb.h is named after a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

namespace quillant::testing {

// The user's layout switcher: selects a group (layout) of the keyboard map
// and tells which one is selected, on a connection of its own.
class XkbGroup {
public:
    explicit XkbGroup(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr)) {
        auto* reply = xcb_xkb_use_extension_reply(connection_, xcb_xkb_use_extension(connection_, 1, 0), nullptr);
        const bool ok = reply && reply->supported;
        std::free(reply);
        if (!ok) {
            xcb_disconnect(connection_);
            throw std::runtime_error("no XKB on " + display);
        }
    }
    ~XkbGroup() { xcb_disconnect(connection_); }
    XkbGroup(const XkbGroup&) = delete;
    XkbGroup& operator=(const XkbGroup&) = delete;

    void lock(unsigned group) {
        xcb_xkb_latch_lock_state(connection_, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, std::uint8_t(group), 0, 0, 0);
        active();  // a round trip: the switch has happened once it answers
    }
    unsigned active() { return state().first; }
    // The effective modifier bits (Shift … Mod5), locks included.
    unsigned modifiers() { return state().second; }

private:
    std::pair<unsigned, unsigned> state() {
        auto* reply =
            xcb_xkb_get_state_reply(connection_, xcb_xkb_get_state(connection_, XCB_XKB_ID_USE_CORE_KBD), nullptr);
        const std::pair<unsigned, unsigned> out{reply ? reply->group : 0u, reply ? reply->mods : 0u};
        std::free(reply);
        return out;
    }

    xcb_connection_t* connection_;
};

}  // namespace quillant::testing
