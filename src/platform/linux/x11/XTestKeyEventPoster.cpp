#include "platform/linux/x11/XcbConnect.h"
#include "platform/linux/x11/XTestKeyEventPoster.h"

#include <X11/keysym.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <stdexcept>

#include "hotkey/Key.h"

namespace quillant::linux_platform {

XTestKeyEventPoster::XTestKeyEventPoster(Logger& logger, const std::string& display)
    : log_(logger, std::string(kLogSubsystem), "keystrokes") {
    const XcbDisplay x = connectToDisplay(display);
    connection_ = x.connection;
    root_ = x.root;
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(connection_, &xcb_test_id);
    xtest_ = ext && ext->present;
    keyboard_ = std::make_unique<XKeyboardMap>(connection_);
    keyboard_->watchChanges();
    controlKeycode_ = keyboard_->controlKeycode();
}

XTestKeyEventPoster::~XTestKeyEventPoster() { xcb_disconnect(connection_); }

void XTestKeyEventPoster::setGrabBreaker(std::function<void()> breaker) {
    std::lock_guard lock(mutex_);
    grabBreaker_ = std::move(breaker);
}

bool XTestKeyEventPoster::createEventSource() {
    std::lock_guard lock(mutex_);
    // Layouts and the selected group change while we run. Reading the whole
    // map costs several round trips and a compile, so it is read again only
    // when the server has told of a change; the round trip first makes sure
    // every notice sent before this chord is here.
    sync();
    while (auto* event = xcb_poll_for_event(connection_)) {
        keyboard_->handle(event);
        std::free(event);
    }
    controlKeycode_ = keyboard_->controlKeycode();
    return xtest_;
}

void XTestKeyEventPoster::releaseEventSource() {}

bool XTestKeyEventPoster::canCreateEvent(std::uint16_t keyCode, bool keyDown) {
    std::lock_guard lock(mutex_);
    const auto key = hotkey::Key::fromCarbonKeyCode(keyCode);
    if (!xtest_ || !key) return false;
    // Without Control the chord would type a bare letter over the selection:
    // send nothing, and let the copy fail.
    if (!controlKeycode_) {
        if (keyDown) log_.error("Chord not sent: the keyboard map has no Control key");
        return false;
    }
    if (!keyboard_->keycodeFor(*key)) {
        if (keyDown) log_.error("Chord not sent: no key produces " + std::string(key->caseName()) + " in the keyboard map");
        return false;
    }
    return true;
}

bool XTestKeyEventPoster::post(const clipboard::KeyEvent& event) {
    std::lock_guard lock(mutex_);
    const auto key = hotkey::Key::fromCarbonKeyCode(event.keyCode);
    const auto keycode = key ? keyboard_->keycodeFor(*key) : std::nullopt;
    if ((event.flags & clipboard::kCommandFlag) && !controlKeycode_) return false;  // never a bare letter
    if (!xtest_ || !keycode) return false;
    const bool command = (event.flags & clipboard::kCommandFlag) != 0;
    const bool shift = (event.flags & clipboard::kShiftFlag) != 0;
    const xcb_keycode_t code = *keycode;
    // Keycode 0 is no key in X11: it stands for "none" below.
    const xcb_keycode_t control = command ? controlKeycode_.value_or(0) : 0;
    xcb_keycode_t shiftCode = 0;
    if (shift) {
        // Without Shift, Ctrl+C is an interrupt to a terminal: then nothing goes out.
        const auto found = keyboard_->keycodeFor(XK_Shift_L);
        if (!found) {
            log_.error("no Shift key on this keyboard map; chord not sent");
            return false;
        }
        shiftCode = *found;
    }
    if (event.keyDown) {
        releaseHeldKeys();
        if (control) fake(XCB_KEY_PRESS, control);
        if (shiftCode) fake(XCB_KEY_PRESS, shiftCode);
        fake(XCB_KEY_PRESS, code);
    } else {
        fake(XCB_KEY_RELEASE, code);
        if (shiftCode) fake(XCB_KEY_RELEASE, shiftCode);
        if (control) fake(XCB_KEY_RELEASE, control);
    }
    sync();
    return true;
}

bool XTestKeyEventPoster::keysHeld() {
    std::lock_guard lock(mutex_);
    return !heldKeycodes().empty();
}

std::vector<xcb_keycode_t> XTestKeyEventPoster::heldKeycodes() {
    std::vector<xcb_keycode_t> held;
    auto* reply = xcb_query_keymap_reply(connection_, xcb_query_keymap(connection_), nullptr);
    if (!reply) return held;
    for (int byte = 0; byte < 32; ++byte)
        for (int bit = 0; bit < 8; ++bit)
            if (reply->keys[byte] & (1u << bit)) held.push_back(xcb_keycode_t(byte * 8 + bit));
    std::free(reply);
    return held;
}

void XTestKeyEventPoster::releaseHeldKeys() {
    // Every held key, not only modifiers: a hotkey key left down would keep
    // our grab active or auto-repeat into the application once it ends.
    const auto held = heldKeycodes();
    if (held.empty()) return;
    for (auto keycode : held) fake(XCB_KEY_RELEASE, keycode);
    sync();
    if (grabBreaker_) grabBreaker_();
    log_.info("Released " + std::to_string(held.size()) + " held key(s) before the chord");
}

void XTestKeyEventPoster::fake(std::uint8_t type, xcb_keycode_t keycode) {
    xcb_test_fake_input(connection_, type, keycode, XCB_CURRENT_TIME, root_, 0, 0, 0);
}

void XTestKeyEventPoster::sync() {
    // A round trip: the server has handled every event once it answers.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

}  // namespace quillant::linux_platform
