#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include <xcb/xcb.h>

#include "hotkey/HotKeyService.h"
#include "platform/linux/x11/KeysymTable.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// Global hotkeys as passive key grabs on the root window, on a connection of
// its own. Each combination is grabbed four times, with and without CapsLock
// and NumLock, so that it fires whatever the lock state. A grab another
// client holds is refused synchronously (checked request).
//
// The host watches fd() and calls processPendingEvents() when it is
// readable; the callback runs there. Auto-repeat is filtered: one pressed
// event per physical press, one released event when the key goes up.
// Main thread only, except endActiveGrab().
class X11HotKeyService final : public hotkey::HotKeyService {
public:
    // A key code no key has, or a key the current layout lacks.
    static constexpr std::int32_t kUnknownKeyErr = -50;

    // Connects to `display` (empty: $DISPLAY). Throws std::runtime_error when
    // the display cannot be opened.
    explicit X11HotKeyService(Logger& logger, const std::string& display = {});
    ~X11HotKeyService() override;
    X11HotKeyService(const X11HotKeyService&) = delete;
    X11HotKeyService& operator=(const X11HotKeyService&) = delete;

    int fd() const;
    // False once the connection to the X server is lost: stop watching fd().
    bool connected() const;
    // Handles everything the server has sent; never blocks.
    void processPendingEvents();

    // Ends the keyboard grab that a held hotkey key makes active, so that
    // synthetic keys reach the focused window. Any thread.
    void endActiveGrab();

    // hotkey::HotKeyService
    hotkey::HotKeyRegistration registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                   hotkey::EventHotKeyID hotKeyID) override;
    void unregisterEventHotKey(hotkey::EventHotKeyRef handle) override;
    std::optional<hotkey::EventHandlerRef> installEventHandler(EventCallback callback) override;

private:
    struct Grab {
        xcb_keycode_t keycode = 0;
        std::uint16_t mask = 0;
        hotkey::EventHotKeyID id{};
        bool down = false;
    };
    void ungrabVariants(xcb_keycode_t keycode, std::uint16_t mask, int count);
    void handle(xcb_generic_event_t* event, xcb_generic_event_t* next);
    void dispatch(std::uint32_t kind, const Grab& grab);

    CategoryLogger log_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    std::unique_ptr<XKeyboardMap> keyboard_;
    std::map<std::uint64_t, Grab> grabs_;
    std::uint64_t nextHandle_ = 1;
    EventCallback callback_;
    std::uint64_t handlerCount_ = 0;
    std::deque<xcb_generic_event_t*> pending_;
};

}  // namespace quillant::linux_platform
