#pragma once

#include <functional>
#include <string>

namespace quillant::linux_platform {

// Hears every press of a pointer button anywhere on the display, without
// taking it from the window it goes to: XInput 2's raw events, selected on
// the root window of a connection of its own. So a panel that closes on a
// click elsewhere need not grab the pointer, and the click still lands.
// The host watches fd() and calls processPendingEvents() when it is
// readable; `onPress` runs there with the pointer's position on the screen.
// Main thread only.
class X11ClickWatcher {
public:
    // Throws std::runtime_error without the display or XInput 2.
    explicit X11ClickWatcher(const std::string& display = {});
    ~X11ClickWatcher();
    X11ClickWatcher(const X11ClickWatcher&) = delete;
    X11ClickWatcher& operator=(const X11ClickWatcher&) = delete;

    int fd() const;
    void processPendingEvents();
    // Only while a panel is open: the clicks of a user working elsewhere then
    // wake nothing of ours. Off at first.
    void listen(bool on);

    std::function<void(int x, int y)> onPress;

private:
    struct Connection;
    Connection* c_;
    bool listening_ = false;
};

}  // namespace quillant::linux_platform
