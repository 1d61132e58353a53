#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "clipboard/KeyEventPoster.h"
#include "platform/linux/portal/PortalKeyboardMap.h"
#include "platform/linux/portal/PortalRequest.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// Synthetic keystrokes through the desktop's RemoteDesktop portal (GNOME,
// KDE Plasma): a session with the keyboard only, started once; the desktop
// asks the user the first time, and from version 2 of the interface the
// restore token it hands back is kept in a private file and sent with the
// next start, so that it does not ask again (version 1, as on GNOME 43 and
// Plasma 5.27, asks at every start). The Command flag becomes Control.
//
// Fails closed: until the session is started, and after the desktop ends
// it, nothing is posted. Every key we press is released: after the chord,
// when a press in the chord fails, before the next chord, and when the
// session closes.
//
// post() makes short blocking calls (at most 500 ms each; the portal answers
// a key event at once or not at all) under a lock; start() and stop() run on
// the main thread.
class RemoteDesktopKeyEventPoster final : public clipboard::KeyEventPoster {
public:
    enum class State { idle, starting, ready, refused, failed, closed };

    RemoteDesktopKeyEventPoster(PortalConnection& portal, Logger& logger, std::filesystem::path tokenFile,
                                PortalKeyboardMap keyboard = PortalKeyboardMap::keysyms());
    ~RemoteDesktopKeyEventPoster() override;
    RemoteDesktopKeyEventPoster(const RemoteDesktopKeyEventPoster&) = delete;
    RemoteDesktopKeyEventPoster& operator=(const RemoteDesktopKeyEventPoster&) = delete;

    // Whether the session bus has a portal with RemoteDesktop and a keyboard (bounded).
    static bool offered(PortalConnection& portal);

    // A portal that leaves the bus (a crash, an update) takes the session
    // along; with a kept permission it is started again this long after.
    static constexpr Duration kRestartDelay = std::chrono::seconds(1);

    // CreateSession, SelectDevices (keyboard, persistent, with the saved
    // token), Start. `done` gets the final state.
    void start(std::function<void(State)> done = {});
    // Releases what is pressed and closes the session.
    void stop();
    State state() const;
    // Whether the desktop can keep the permission (interface version 2 and
    // later); without, it asks at every start. Known once start() ran.
    bool keepsPermission() const { return version_ >= 2; }

    // Whether a key the user holds would spoil a chord; the portal cannot
    // tell, so the owner says (e.g. the shortcut portal's held state).
    void setHeldProbe(std::function<bool()> probe);

    // clipboard::KeyEventPoster
    bool createEventSource() override;
    void releaseEventSource() override;
    bool canCreateEvent(std::uint16_t keyCode, bool keyDown) override;
    bool post(const clipboard::KeyEvent& event) override;
    bool keysHeld() override;

private:
    void sessionEnded(PortalSession::End end);
    void selectDevices();
    void startSession();
    void finishStart(State state);
    void prime();
    void saveToken(const std::string& token);
    std::optional<std::string> savedToken() const;
    bool send(const PortalKey& key, bool down);
    bool press(const PortalKey& key);
    void releaseAll();
    std::optional<PortalKey> keyFor(std::uint16_t keyCode) const;

    PortalConnection& portal_;
    CategoryLogger log_;
    std::filesystem::path tokenFile_;
    PortalKeyboardMap keyboard_;
    std::optional<PortalKey> control_;
    std::optional<PortalKey> shift_;
    std::uint32_t version_ = 1;

    mutable std::mutex mutex_;
    State state_ = State::idle;
    QString sessionHandle_;
    std::vector<PortalKey> pressed_;  // in press order
    bool reportedNotReady_ = false;

    std::unique_ptr<PortalSession> session_;
    std::function<void(State)> done_;
    std::function<bool()> heldProbe_;
    TimerHandle restart_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

std::string describe(RemoteDesktopKeyEventPoster::State state);

// Chooses, per chord, the portal's keyboard while its session is started and
// another poster (XTest through XWayland) otherwise. A chord's events all go
// to the poster chosen when it began.
class PreferredKeyEventPoster final : public clipboard::KeyEventPoster {
public:
    PreferredKeyEventPoster(RemoteDesktopKeyEventPoster& preferred, clipboard::KeyEventPoster* fallback)
        : preferred_(preferred), fallback_(fallback) {}

    bool createEventSource() override;
    void releaseEventSource() override;
    bool canCreateEvent(std::uint16_t keyCode, bool keyDown) override;
    bool post(const clipboard::KeyEvent& event) override;
    bool keysHeld() override;

private:
    clipboard::KeyEventPoster* chosen();

    RemoteDesktopKeyEventPoster& preferred_;
    clipboard::KeyEventPoster* fallback_;
    clipboard::KeyEventPoster* current_ = nullptr;
};

}  // namespace quillant::linux_platform
