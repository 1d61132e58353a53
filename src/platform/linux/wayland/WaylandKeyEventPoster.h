#pragma once

#include <memory>
#include <string>

#include "clipboard/KeyEventPoster.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// Synthetic keystrokes through a virtual keyboard of our own
// (zwp_virtual_keyboard_v1), on a connection of its own. The Command flag
// becomes Control.
//
// The keycodes come from the seat's keymap (the wl_keyboard keymap event),
// read through xkbcommon in every layout, and that keymap is uploaded to the
// virtual keyboard, so that a keycode means to the application what it means
// to us. When the seat offers no keymap that has Control, C and V (no
// keyboard yet, or another program's virtual keyboard was the last one
// used), the keymap the compositor builds from the XKB defaults is used.
// Without Control nothing is sent: a bare letter would type over the
// selection.
//
// Every press is followed by its release in the same chord, and the
// modifier state sent with the chord is cleared after it. Held keys: a
// Wayland client sees no keys but its own, so keysHeld() is always false. The
// compositor keeps each keyboard's modifiers apart (wlroots sends the
// modifiers of the keyboard that sent the key), so the user's held Alt and
// Shift do not ride along with our Ctrl+C.
//
// Thread-safe: the copy chord may be sent off the main thread.
class WaylandKeyEventPoster final : public clipboard::KeyEventPoster {
public:
    // Connects to `display` (empty: $WAYLAND_DISPLAY). Throws
    // std::runtime_error when there is no compositor, seat or virtual keyboard.
    explicit WaylandKeyEventPoster(Logger& logger, const std::string& display = {});
    ~WaylandKeyEventPoster() override;
    WaylandKeyEventPoster(const WaylandKeyEventPoster&) = delete;
    WaylandKeyEventPoster& operator=(const WaylandKeyEventPoster&) = delete;

    // The connection's descriptor: the host calls processPendingEvents()
    // when it is readable, so that keymap changes are taken in and the
    // compositor's messages never pile up.
    int fd() const;
    void processPendingEvents();

    // clipboard::KeyEventPoster
    // Takes in the seat's current keymap; true when a chord can be sent.
    bool createEventSource() override;
    void releaseEventSource() override;
    bool canCreateEvent(std::uint16_t keyCode, bool keyDown) override;
    bool post(const clipboard::KeyEvent& event) override;
    bool keysHeld() override;

    // The keymap in use came from the seat (false: from the XKB defaults).
    bool usingSeatKeymap();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillant::linux_platform
