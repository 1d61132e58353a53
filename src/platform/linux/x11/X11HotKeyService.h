#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <xcb/xcb.h>

#include "hotkey/HotKeyService.h"
#include "platform/linux/x11/KeysymTable.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// Global hotkeys as passive key grabs on the root window, on a connection of
// its own. Each combination is grabbed once for every combination of the lock
// modifiers (Lock, and the bits the modifier map gives Num_Lock and
// Scroll_Lock), so that it fires whatever the lock state. The key is the one
// that produces the hotkey's keysym in the selected group, or else in any
// group (the Latin group of ru,us). When the keyboard map or the selected
// group changes, the grabs move with it. A grab another client holds is
// refused synchronously (checked request).
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
        hotkey::Key key;
        std::uint16_t mask = 0;
        hotkey::EventHotKeyID id{};
        xcb_keycode_t keycode = 0;
        std::vector<std::uint16_t> variants;  // the lock states grabbed; none while the grab is lost
        bool down = false;
    };
    // Grabs `keycode` with every lock variant, or none of them.
    bool grabVariants(Grab& grab, xcb_keycode_t keycode);
    void ungrab(Grab& grab);
    void grabAgain();
    void handle(xcb_generic_event_t* event, xcb_generic_event_t* next);
    void dispatch(std::uint32_t kind, const Grab& grab);

    CategoryLogger log_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    std::unique_ptr<XKeyboardMap> keyboard_;
    LockModifiers locks_;
    std::map<std::uint64_t, Grab> grabs_;
    std::uint64_t nextHandle_ = 1;
    EventCallback callback_;
    std::uint64_t handlerCount_ = 0;
    std::deque<xcb_generic_event_t*> pending_;
};

}  // namespace quillant::linux_platform
