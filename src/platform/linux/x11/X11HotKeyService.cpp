#include "platform/linux/x11/XcbConnect.h"
#include "platform/linux/x11/X11HotKeyService.h"

#include <cstdlib>
#include <stdexcept>

#include "hotkey/Key.h"
#include "hotkey/ModifierFlags.h"

namespace quillant::linux_platform {

namespace {

// Shift, Lock, Control, Mod1–Mod5; the group and button bits above never count.
constexpr std::uint16_t kModifierBits = 0xff;

std::uint16_t xMaskFor(std::uint32_t carbon) {
    std::uint16_t mask = 0;
    if (carbon & hotkey::carbon::cmdKey) mask |= XCB_MOD_MASK_4;
    if (carbon & hotkey::carbon::optionKey) mask |= XCB_MOD_MASK_1;
    if (carbon & hotkey::carbon::controlKey) mask |= XCB_MOD_MASK_CONTROL;
    if (carbon & hotkey::carbon::shiftKey) mask |= XCB_MOD_MASK_SHIFT;
    return mask;
}

}  // namespace

X11HotKeyService::X11HotKeyService(Logger& logger, const std::string& display)
    : log_(logger, std::string(kLogSubsystem), "hotkeys") {
    const XcbDisplay x = connectToDisplay(display);
    connection_ = x.connection;
    root_ = x.root;
    keyboard_ = std::make_unique<XKeyboardMap>(connection_);
    keyboard_->watchChanges();
    locks_ = keyboard_->lockModifiers();
}

X11HotKeyService::~X11HotKeyService() {
    for (auto& [handle, grab] : grabs_) ungrab(grab);
    xcb_flush(connection_);
    for (auto* event : pending_) std::free(event);
    xcb_disconnect(connection_);
}

int X11HotKeyService::fd() const { return xcb_get_file_descriptor(connection_); }

bool X11HotKeyService::connected() const { return xcb_connection_has_error(connection_) == 0; }

void X11HotKeyService::endActiveGrab() {
    xcb_ungrab_keyboard(connection_, XCB_CURRENT_TIME);
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

hotkey::HotKeyRegistration X11HotKeyService::registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                                 hotkey::EventHotKeyID hotKeyID) {
    const auto key = hotkey::Key::fromCarbonKeyCode(keyCode);
    if (key) {
        keyboard_->reload();
        locks_ = keyboard_->lockModifiers();
    }
    const auto keycode = key ? keyboard_->keycodeFor(*key) : std::nullopt;
    if (!keycode) {
        log_.error("No key on this keyboard layout for key code " + std::to_string(keyCode));
        return {kUnknownKeyErr, std::nullopt};
    }
    const std::uint16_t mask = xMaskFor(modifiers);
    // X lets a client grab its own combination twice; the second would share
    // (and on unregister drop) the first one's grab.
    for (const auto& [handle, grab] : grabs_)
        if ((grab.key == *key || grab.keycode == *keycode) && grab.mask == mask)
            return {hotkey::eventHotKeyExistsErr, std::nullopt};

    Grab grab{*key, mask, hotKeyID};
    if (!grabVariants(grab, *keycode)) return {hotkey::eventHotKeyExistsErr, std::nullopt};
    const std::uint64_t handle = nextHandle_++;
    grabs_.emplace(handle, std::move(grab));
    return {hotkey::noErr, static_cast<hotkey::EventHotKeyRef>(handle)};
}

bool X11HotKeyService::grabVariants(Grab& grab, xcb_keycode_t keycode) {
    std::vector<std::uint16_t> held;
    for (auto variant : lockVariants(locks_, grab.mask)) {
        auto cookie = xcb_grab_key_checked(connection_, 1, root_, grab.mask | variant, keycode, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC);
        if (auto* error = xcb_request_check(connection_, cookie)) {
            std::free(error);
            for (auto done : held) xcb_ungrab_key(connection_, keycode, root_, grab.mask | done);
            xcb_flush(connection_);
            return false;
        }
        held.push_back(variant);
    }
    grab.keycode = keycode;
    grab.variants = std::move(held);
    return true;
}

void X11HotKeyService::ungrab(Grab& grab) {
    for (auto variant : grab.variants) xcb_ungrab_key(connection_, grab.keycode, root_, grab.mask | variant);
    grab.variants.clear();
    grab.down = false;
}

void X11HotKeyService::grabAgain() {
    // The lock bits or the key's keycode may have moved (setxkbmap, xmodmap,
    // another selected layout): grabs on the old ones no longer fire.
    locks_ = keyboard_->lockModifiers();
    int regrabbed = 0;
    for (auto& [handle, grab] : grabs_) {
        const auto keycode = keyboard_->keycodeFor(grab.key);
        if (!grab.variants.empty() && keycode == grab.keycode && lockVariants(locks_, grab.mask) == grab.variants)
            continue;
        ungrab(grab);
        if (!keycode) {
            log_.error("Hotkey lost: no key produces " + std::string(grab.key.caseName()) + " in the new keyboard map");
        } else if (!grabVariants(grab, *keycode)) {
            log_.error("Hotkey lost after a keyboard change: another program holds it");
        } else {
            ++regrabbed;
        }
    }
    xcb_flush(connection_);
    if (regrabbed > 0) log_.info("Keyboard changed; " + std::to_string(regrabbed) + " hotkey(s) grabbed again");
}

void X11HotKeyService::unregisterEventHotKey(hotkey::EventHotKeyRef handle) {
    auto it = grabs_.find(static_cast<std::uint64_t>(handle));
    if (it == grabs_.end()) return;
    ungrab(it->second);
    grabs_.erase(it);
    // A round trip, so that another client may take the combination at once.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

std::optional<hotkey::EventHandlerRef> X11HotKeyService::installEventHandler(EventCallback callback) {
    callback_ = std::move(callback);
    return static_cast<hotkey::EventHandlerRef>(++handlerCount_);
}

void X11HotKeyService::processPendingEvents() {
    // The round trips of a re-grab can pull events into xcb's queue, where
    // the descriptor no longer shows them: read until nothing is left.
    for (;;) {
        while (auto* event = xcb_poll_for_event(connection_)) pending_.push_back(event);
        if (pending_.empty()) return;
        while (!pending_.empty()) {
            xcb_generic_event_t* event = pending_.front();
            pending_.pop_front();
            // Without detectable auto-repeat the server sends a release and a
            // press with the same time for every repeat: look one event ahead.
            if (pending_.empty() && (event->response_type & 0x7f) == XCB_KEY_RELEASE)
                if (auto* next = xcb_poll_for_event(connection_)) pending_.push_back(next);
            handle(event, pending_.empty() ? nullptr : pending_.front());
            std::free(event);
        }
    }
}

void X11HotKeyService::handle(xcb_generic_event_t* event, xcb_generic_event_t* next) {
    const std::uint8_t type = event->response_type & 0x7f;
    if (keyboard_->handle(event) != XKeyboardMap::Change::none) {
        grabAgain();
        return;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    if (type == XCB_KEY_RELEASE && next && (next->response_type & 0x7f) == XCB_KEY_PRESS) {
        const auto* following = reinterpret_cast<const xcb_key_press_event_t*>(next);
        if (following->detail == key->detail && following->time == key->time) {
            // A repeat: drop the release here and the press as already down.
            return;
        }
    }
    for (auto& [handle, grab] : grabs_) {
        if (grab.variants.empty() || grab.keycode != key->detail) continue;
        if (type == XCB_KEY_PRESS) {
            const std::uint16_t relevant = kModifierBits & ~(locks_.all() & ~grab.mask);
            if (grab.down || (key->state & relevant) != grab.mask) continue;
            grab.down = true;
            dispatch(hotkey::kEventHotKeyPressed, grab);
            return;
        }
        // The release counts whatever modifiers are still held by then.
        if (grab.down) {
            grab.down = false;
            dispatch(hotkey::kEventHotKeyReleased, grab);
            return;
        }
    }
}

void X11HotKeyService::dispatch(std::uint32_t kind, const Grab& grab) {
    if (!callback_) return;
    auto callback = callback_;
    callback(hotkey::HotKeyEvent{kind, hotkey::noErr, grab.id});
}

}  // namespace quillant::linux_platform
