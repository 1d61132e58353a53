#include "platform/linux/x11/XcbConnect.h"
#include "platform/linux/x11/X11HotKeyService.h"

#include <cstdlib>
#include <stdexcept>

#include "hotkey/Key.h"
#include "hotkey/ModifierFlags.h"

namespace quillant::linux_platform {

namespace {

constexpr std::uint16_t kNumLockMask = XCB_MOD_MASK_2;
constexpr std::uint16_t kLockVariants[] = {0, XCB_MOD_MASK_LOCK, kNumLockMask, XCB_MOD_MASK_LOCK | kNumLockMask};
constexpr std::uint16_t kRelevantMask =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

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
}

X11HotKeyService::~X11HotKeyService() {
    for (const auto& [handle, grab] : grabs_) ungrabVariants(grab.keycode, grab.mask, 4);
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
    if (key) keyboard_->reload();
    const auto keycode = key ? keyboard_->keycodeFor(*key) : std::nullopt;
    if (!keycode) {
        log_.error("No key on this keyboard layout for key code " + std::to_string(keyCode));
        return {kUnknownKeyErr, std::nullopt};
    }
    const std::uint16_t mask = xMaskFor(modifiers);
    // X lets a client grab its own combination twice; the second would share
    // (and on unregister drop) the first one's grab.
    for (const auto& [handle, grab] : grabs_)
        if (grab.keycode == *keycode && grab.mask == mask) return {hotkey::eventHotKeyExistsErr, std::nullopt};

    int grabbed = 0;
    for (auto variant : kLockVariants) {
        auto cookie = xcb_grab_key_checked(connection_, 1, root_, mask | variant, *keycode, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC);
        if (auto* error = xcb_request_check(connection_, cookie)) {
            std::free(error);
            ungrabVariants(*keycode, mask, grabbed);
            xcb_flush(connection_);
            return {hotkey::eventHotKeyExistsErr, std::nullopt};
        }
        ++grabbed;
    }
    const std::uint64_t handle = nextHandle_++;
    grabs_[handle] = Grab{*keycode, mask, hotKeyID, false};
    return {hotkey::noErr, static_cast<hotkey::EventHotKeyRef>(handle)};
}

void X11HotKeyService::ungrabVariants(xcb_keycode_t keycode, std::uint16_t mask, int count) {
    for (int i = 0; i < count; ++i) xcb_ungrab_key(connection_, keycode, root_, mask | kLockVariants[i]);
}

void X11HotKeyService::unregisterEventHotKey(hotkey::EventHotKeyRef handle) {
    auto it = grabs_.find(static_cast<std::uint64_t>(handle));
    if (it == grabs_.end()) return;
    ungrabVariants(it->second.keycode, it->second.mask, 4);
    grabs_.erase(it);
    // A round trip, so that another client may take the combination at once.
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

std::optional<hotkey::EventHandlerRef> X11HotKeyService::installEventHandler(EventCallback callback) {
    callback_ = std::move(callback);
    return static_cast<hotkey::EventHandlerRef>(++handlerCount_);
}

void X11HotKeyService::processPendingEvents() {
    while (auto* event = xcb_poll_for_event(connection_)) pending_.push_back(event);
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

void X11HotKeyService::handle(xcb_generic_event_t* event, xcb_generic_event_t* next) {
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) {
        keyboard_->reload();
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
        if (grab.keycode != key->detail) continue;
        if (type == XCB_KEY_PRESS) {
            if (grab.down || (key->state & kRelevantMask) != grab.mask) continue;
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
