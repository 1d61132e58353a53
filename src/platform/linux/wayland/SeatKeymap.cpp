#include "platform/linux/wayland/SeatKeymap.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstring>

#include "platform/linux/wayland/WaylandConnection.h"

namespace quillant::linux_platform {

namespace {

constexpr std::uint32_t kMaxKeymapBytes = 4u << 20;

struct Reading {
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    std::optional<std::string> keymap;
};

void onKeymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
    auto& r = *static_cast<Reading*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && size <= kMaxKeymapBytes) {
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char* text = static_cast<const char*>(map);
            r.keymap = std::string(text, ::strnlen(text, size));
            ::munmap(map, size);
        }
    }
    ::close(fd);
}

const wl_keyboard_listener kKeyboardListener{
    onKeymap,
    [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    [](void*, wl_keyboard*, std::int32_t, std::int32_t) {}};

void onCapabilities(void* data, wl_seat* seat, std::uint32_t caps) {
    auto& r = *static_cast<Reading*>(data);
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !r.keyboard) {
        r.keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(r.keyboard, &kKeyboardListener, data);
    }
}

const wl_seat_listener kSeatListener{onCapabilities, [](void*, wl_seat*, const char*) {}};

}  // namespace

std::optional<std::string> readSeatKeymap(const std::string& display) {
    try {
        WaylandConnection connection(display);
        Reading r;
        r.seat = static_cast<wl_seat*>(connection.bind("wl_seat", &wl_seat_interface, 5));
        if (!r.seat) return std::nullopt;
        wl_seat_add_listener(r.seat, &kSeatListener, &r);
        // The capabilities, then the keymap of the keyboard asked for.
        connection.roundtrip();
        connection.roundtrip();
        if (r.keyboard) wl_proxy_get_version(reinterpret_cast<wl_proxy*>(r.keyboard)) >= 3 ? wl_keyboard_release(r.keyboard)
                                                                                            : wl_keyboard_destroy(r.keyboard);
        wl_proxy_get_version(reinterpret_cast<wl_proxy*>(r.seat)) >= 5 ? wl_seat_release(r.seat) : wl_seat_destroy(r.seat);
        connection.flush();
        return r.keymap;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace quillant::linux_platform
