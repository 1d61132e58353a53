#include "platform/linux/wayland/WaylandConnection.h"

#include <errno.h>
#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace quillant::linux_platform {

namespace {

void onGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
    static_cast<std::vector<WaylandGlobal>*>(data)->push_back({name, interface, version});
}

void onGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
    std::erase_if(*static_cast<std::vector<WaylandGlobal>*>(data), [&](auto& g) { return g.name == name; });
}

const wl_registry_listener kRegistryListener{onGlobal, onGlobalRemove};

}  // namespace

WaylandConnection::WaylandConnection(const std::string& display) {
    display_ = wl_display_connect(display.empty() ? nullptr : display.c_str());
    if (!display_) {
        const char* env = std::getenv("WAYLAND_DISPLAY");
        throw std::runtime_error("cannot connect to the Wayland compositor " +
                                 (display.empty() ? std::string(env ? env : "(WAYLAND_DISPLAY is not set)") : display));
    }
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, &globals_);
    if (wl_display_roundtrip(display_) < 0) {
        wl_registry_destroy(registry_);
        wl_display_disconnect(display_);
        throw std::runtime_error("the Wayland compositor did not list its globals");
    }
}

WaylandConnection::~WaylandConnection() {
    wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

std::optional<WaylandGlobal> WaylandConnection::find(const std::string& interface) const {
    for (const auto& g : globals_)
        if (g.interface == interface) return g;
    return std::nullopt;
}

void* WaylandConnection::bind(const std::string& interface, const wl_interface* type, std::uint32_t maxVersion,
                              std::uint32_t* boundVersion) {
    const auto global = find(interface);
    if (!global) return nullptr;
    const std::uint32_t version = std::min(global->version, maxVersion);
    if (boundVersion) *boundVersion = version;
    return wl_registry_bind(registry_, global->name, type, version);
}

int WaylandConnection::fd() const { return wl_display_get_fd(display_); }

bool WaylandConnection::broken() const { return wl_display_get_error(display_) != 0; }

bool WaylandConnection::flush() {
    // A full socket (EAGAIN) keeps the rest for the next flush.
    return wl_display_flush(display_) >= 0 || errno == EAGAIN;
}

bool WaylandConnection::dispatchPending() {
    if (broken()) return false;
    while (wl_display_prepare_read(display_) != 0) wl_display_dispatch_pending(display_);
    flush();
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
        wl_display_read_events(display_);
    } else {
        wl_display_cancel_read(display_);
    }
    wl_display_dispatch_pending(display_);
    flush();
    return !broken();
}

bool WaylandConnection::roundtrip() {
    if (broken()) return false;
    return wl_display_roundtrip(display_) >= 0;
}

std::optional<std::vector<WaylandGlobal>> probeWaylandGlobals(const std::string& display, std::string& error) {
    try {
        WaylandConnection connection(display);
        return connection.globals();
    } catch (const std::exception& e) {
        error = e.what();
        return std::nullopt;
    }
}

WaylandOffer waylandOffer(const std::vector<WaylandGlobal>& globals) {
    auto has = [&](const char* name) {
        return std::any_of(globals.begin(), globals.end(), [&](auto& g) { return g.interface == name; });
    };
    WaylandOffer offer;
    if (has(kExtDataControl))
        offer.dataControl = kExtDataControl;
    else if (has(kWlrDataControl))
        offer.dataControl = kWlrDataControl;
    offer.virtualKeyboard = has(kVirtualKeyboard);
    offer.seat = has("wl_seat");
    return offer;
}

}  // namespace quillant::linux_platform
