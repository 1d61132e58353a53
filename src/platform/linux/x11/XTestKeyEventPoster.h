#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <xcb/xcb.h>

#include "clipboard/KeyEventPoster.h"
#include "platform/linux/x11/KeysymTable.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// Synthetic keystrokes through XTest on a connection of its own. The Command
// flag becomes Control, the copy/paste modifier of X11 programs.
//
// A synthetic event carries whatever the user physically holds, and while the
// hotkey's own key is down our passive grab is active and swallows every key
// event, so keysHeld() reports any key still down. When a chord must go out
// anyway, post() first fake-releases every held key (never pressing them
// again, which would leave them stuck) and ends our active grab through the
// grab breaker.
//
// Thread-safe: the copy chord may be sent off the main thread.
class XTestKeyEventPoster final : public clipboard::KeyEventPoster {
public:
    // Connects to `display` (empty: $DISPLAY). Throws std::runtime_error when
    // the display cannot be opened.
    explicit XTestKeyEventPoster(Logger& logger, const std::string& display = {});
    ~XTestKeyEventPoster() override;
    XTestKeyEventPoster(const XTestKeyEventPoster&) = delete;
    XTestKeyEventPoster& operator=(const XTestKeyEventPoster&) = delete;

    // Ends this process's active keyboard grab (the hot-key service's
    // connection holds it): X11HotKeyService::endActiveGrab.
    void setGrabBreaker(std::function<void()> breaker);

    // clipboard::KeyEventPoster
    // True when the server offers XTest.
    bool createEventSource() override;
    void releaseEventSource() override;
    bool canCreateEvent(std::uint16_t keyCode, bool keyDown) override;
    bool post(const clipboard::KeyEvent& event) override;
    bool keysHeld() override;

private:
    std::vector<xcb_keycode_t> heldKeycodes();
    void releaseHeldKeys();
    void fake(std::uint8_t type, xcb_keycode_t keycode);
    void sync();

    CategoryLogger log_;
    std::mutex mutex_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    bool xtest_ = false;
    std::unique_ptr<XKeyboardMap> keyboard_;
    std::optional<xcb_keycode_t> controlKeycode_;
    std::function<void()> grabBreaker_;
};

}  // namespace quillant::linux_platform
