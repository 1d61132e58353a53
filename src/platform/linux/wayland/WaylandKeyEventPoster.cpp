#include "platform/linux/wayland/WaylandKeyEventPoster.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>

#include "hotkey/Key.h"
#include "platform/linux/ChordKeymap.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace quillant::linux_platform {

namespace {

constexpr std::uint32_t kEvdevOffset = 8;  // xkb keycodes are evdev codes plus 8
constexpr std::size_t kMaxKeymapBytes = std::size_t(4) << 20;

std::uint32_t milliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint32_t(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

}  // namespace

struct WaylandKeyEventPoster::Impl {
    CategoryLogger log;
    std::mutex mutex;
    WaylandConnection connection;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* virtualKeyboard = nullptr;
    xkb_context* context = nullptr;

    std::string seatKeymapText;       // the latest keymap the seat sent
    bool seatKeymapChanged = false;
    XkbKeymapPtr keymap;                 // the one in use
    std::string uploadedText;         // what the virtual keyboard holds
    bool fromSeat = false;
    ChordKeymap keys;
    std::set<std::uint32_t> pressed;  // keycodes we hold down right now

    explicit Impl(Logger& logger, const std::string& display)
        : log(logger, std::string(kLogSubsystem), "keystrokes"), connection(display) {
        seat = static_cast<wl_seat*>(connection.bind("wl_seat", &wl_seat_interface, 5));
        manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            connection.bind(kVirtualKeyboard, &zwp_virtual_keyboard_manager_v1_interface, 1));
        if (!seat || !manager) {
            cleanUp();
            throw std::runtime_error(!seat ? "the compositor offers no seat"
                                           : "the compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)");
        }
        context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        static const wl_seat_listener seatListener{
            [](void* data, wl_seat*, std::uint32_t caps) { static_cast<Impl*>(data)->onCapabilities(caps); },
            [](void*, wl_seat*, const char*) {}};
        wl_seat_add_listener(seat, &seatListener, this);
        virtualKeyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
        // The capabilities, then the keymap of a keyboard we asked for.
        connection.roundtrip();
        connection.roundtrip();
        if (connection.broken()) {
            cleanUp();
            throw std::runtime_error("the compositor refused a virtual keyboard");
        }
    }

    ~Impl() {
        releaseEverything();
        cleanUp();
    }

    void cleanUp() {
        if (keyboard) wl_keyboard_release(keyboard);
        if (virtualKeyboard) zwp_virtual_keyboard_v1_destroy(virtualKeyboard);
        if (manager) zwp_virtual_keyboard_manager_v1_destroy(manager);
        if (seat) wl_seat_release(seat);
        keyboard = nullptr;
        virtualKeyboard = nullptr;
        manager = nullptr;
        seat = nullptr;
        connection.flush();
        keymap.reset();
        if (context) xkb_context_unref(context);
        context = nullptr;
    }

    void onCapabilities(std::uint32_t caps) {
        const bool has = caps & WL_SEAT_CAPABILITY_KEYBOARD;
        if (has && !keyboard) {
            keyboard = wl_seat_get_keyboard(seat);
            static const wl_keyboard_listener keyboardListener{
                [](void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
                    static_cast<Impl*>(data)->onKeymap(format, fd, size);
                },
                // We have no surface: enter, leave and keys never concern us.
                [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
                [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
                [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
                [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
                [](void*, wl_keyboard*, std::int32_t, std::int32_t) {}};
            wl_keyboard_add_listener(keyboard, &keyboardListener, this);
        } else if (!has && keyboard) {
            wl_keyboard_release(keyboard);
            keyboard = nullptr;
        }
    }

    void onKeymap(std::uint32_t format, std::int32_t fd, std::uint32_t size) {
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && size <= kMaxKeymapBytes) {
            void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (map != MAP_FAILED) {
                const char* text = static_cast<const char*>(map);
                std::string keymapText(text, ::strnlen(text, size));
                ::munmap(map, size);
                // Our own keymap comes back whenever our keyboard was the last one used.
                if (keymapText != uploadedText) {
                    seatKeymapText = std::move(keymapText);
                    seatKeymapChanged = true;
                }
            }
        }
        ::close(fd);
    }

    // Picks the keymap for the next chord and hands it to the virtual keyboard.
    void refreshKeymap() {
        connection.dispatchPending();
        if (!seatKeymapChanged && keymap) return;
        seatKeymapChanged = false;
        XkbKeymapPtr chosen;
        if (!seatKeymapText.empty()) {
            XkbKeymapPtr seatMap(xkb_keymap_new_from_string(context, seatKeymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                         XKB_KEYMAP_COMPILE_NO_FLAGS));
            if (seatMap && chordKeymap(seatMap.get()).complete()) {
                chosen = std::move(seatMap);
                fromSeat = true;
            }
        }
        if (!chosen) {
            if (keymap && !fromSeat) return;  // the defaults are in use already
            chosen.reset(xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
            fromSeat = false;
            if (chosen) log.info("the seat offers no keymap with Control, C and V; using the XKB defaults");
        }
        if (!chosen) {
            keymap.reset();
            keys = {};
            return;
        }
        keys = chordKeymap(chosen.get());
        keymap = std::move(chosen);
        upload();
    }

    void upload() {
        char* text = xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
        if (!text) return;
        const std::string keymapText(text);
        std::free(text);
        const int fd = ::memfd_create("quillant-keymap", MFD_CLOEXEC);
        if (fd < 0) return;
        const std::size_t size = keymapText.size() + 1;
        if (::ftruncate(fd, off_t(size)) == 0) {
            void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (map != MAP_FAILED) {
                std::memcpy(map, keymapText.c_str(), size);
                ::munmap(map, size);
                zwp_virtual_keyboard_v1_keymap(virtualKeyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                               std::uint32_t(size));
                uploadedText = keymapText;
            }
        }
        ::close(fd);
        connection.roundtrip();
    }

    void key(std::uint32_t keycode, bool down) {
        zwp_virtual_keyboard_v1_key(virtualKeyboard, milliseconds(), keycode - kEvdevOffset,
                                    down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        if (down)
            pressed.insert(keycode);
        else
            pressed.erase(keycode);
    }

    void modifiers(xkb_mod_mask_t depressed, std::uint32_t layout) {
        zwp_virtual_keyboard_v1_modifiers(virtualKeyboard, depressed, 0, 0, layout);
    }

    void releaseEverything() {
        if (!virtualKeyboard || uploadedText.empty()) return;
        const auto held = pressed;
        for (auto k : held) key(k, false);
        modifiers(0, 0);
        connection.roundtrip();
    }

    const std::optional<ChordKey>& letter(std::uint16_t keyCode) const {
        static const std::optional<ChordKey> none;
        if (keyCode == clipboard::kKeyCodeC) return keys.c;
        if (keyCode == clipboard::kKeyCodeV) return keys.v;
        return none;
    }
};

WaylandKeyEventPoster::WaylandKeyEventPoster(Logger& logger, const std::string& display)
    : impl_(std::make_unique<Impl>(logger, display)) {
    std::lock_guard lock(impl_->mutex);
    impl_->refreshKeymap();
}

WaylandKeyEventPoster::~WaylandKeyEventPoster() = default;

int WaylandKeyEventPoster::fd() const { return impl_->connection.fd(); }

void WaylandKeyEventPoster::processPendingEvents() {
    std::lock_guard lock(impl_->mutex);
    impl_->connection.dispatchPending();
}

bool WaylandKeyEventPoster::createEventSource() {
    std::lock_guard lock(impl_->mutex);
    impl_->refreshKeymap();
    return !impl_->connection.broken() && impl_->keymap != nullptr;
}

void WaylandKeyEventPoster::releaseEventSource() {}

bool WaylandKeyEventPoster::canCreateEvent(std::uint16_t keyCode, bool keyDown) {
    std::lock_guard lock(impl_->mutex);
    auto& i = *impl_;
    if (i.connection.broken() || !i.keymap) return false;
    if (!i.keys.control) {
        if (keyDown) i.log.error("Chord not sent: the keyboard map has no Control key");
        return false;
    }
    if (!i.letter(keyCode)) {
        if (keyDown) {
            const auto key = hotkey::Key::fromCarbonKeyCode(keyCode);
            i.log.error("Chord not sent: no key produces " + std::string(key ? key->caseName() : "that key") +
                        " in the keyboard map");
        }
        return false;
    }
    return true;
}

bool WaylandKeyEventPoster::post(const clipboard::KeyEvent& event) {
    std::lock_guard lock(impl_->mutex);
    auto& i = *impl_;
    if (i.connection.broken() || !i.keymap) return false;
    const auto& letter = i.letter(event.keyCode);
    const bool command = (event.flags & clipboard::kCommandFlag) != 0;
    const bool shift = (event.flags & clipboard::kShiftFlag) != 0;
    if (!letter) return false;
    if (command && !i.keys.control) return false;  // never a bare letter
    if (shift && !i.keys.shift) {
        // Without Shift, Ctrl+C is an interrupt to a terminal.
        i.log.error("no Shift key on this keyboard map; chord not sent");
        return false;
    }
    xkb_mod_mask_t mask = 0;
    if (command) mask |= i.keys.control->mask;
    if (shift) mask |= i.keys.shift->mask;
    if (event.keyDown) {
        if (command) i.key(i.keys.control->keycode, true);
        if (shift) i.key(i.keys.shift->keycode, true);
        // The letter's own layout: with "ru,us" the application then reads a Latin C.
        i.modifiers(mask, letter->layout);
        i.key(letter->keycode, true);
    } else {
        if (i.pressed.count(letter->keycode)) i.key(letter->keycode, false);
        if (shift && i.pressed.count(i.keys.shift->keycode)) i.key(i.keys.shift->keycode, false);
        if (command && i.pressed.count(i.keys.control->keycode)) i.key(i.keys.control->keycode, false);
        i.modifiers(0, 0);
    }
    // A round trip: the compositor has handled the events once it answers.
    return i.connection.roundtrip();
}

bool WaylandKeyEventPoster::keysHeld() { return false; }

bool WaylandKeyEventPoster::usingSeatKeymap() {
    std::lock_guard lock(impl_->mutex);
    return impl_->fromSeat;
}

}  // namespace quillant::linux_platform
