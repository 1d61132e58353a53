#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hotkey/HotKeyService.h"
#include "platform/linux/portal/PortalRequest.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// Global hotkeys through the desktop's GlobalShortcuts portal (KDE Plasma,
// GNOME 48 and later, Hyprland): one portal session, one shortcut.
//
// The desktop owns the trigger. We propose one (the registered combination
// as the preferred trigger, "ALT+SHIFT+g"); the desktop asks the user once
// and may choose another; later the user changes it in the desktop's own
// shortcut settings. So a rebind in our panel only proposes again, and
// what the desktop reports (the bind's answer, ShortcutsChanged) is the
// trigger to show: triggerDescription().
//
// quillant has one global hotkey; each registration takes over the one
// portal shortcut ("fix-selection"), and its Activated and Deactivated
// signals are delivered as pressed and released events of the latest
// registration. Binding is asynchronous: a registration answers success at
// once, and a refusal or cancellation later is a log line and state().
// Main thread only.
class GlobalShortcutsHotKeyService final : public hotkey::HotKeyService {
public:
    enum class State { idle, binding, bound, refused, failed, closed };

    static constexpr const char* kShortcutId = "fix-selection";

    GlobalShortcutsHotKeyService(PortalConnection& portal, Logger& logger, std::string description);
    ~GlobalShortcutsHotKeyService() override;
    GlobalShortcutsHotKeyService(const GlobalShortcutsHotKeyService&) = delete;
    GlobalShortcutsHotKeyService& operator=(const GlobalShortcutsHotKeyService&) = delete;

    // Whether the session bus has a portal with GlobalShortcuts (bounded).
    static bool offered(PortalConnection& portal);

    State state() const { return state_; }
    // The trigger as the desktop writes it ("Alt+Shift+G"); empty until known.
    const std::string& triggerDescription() const { return trigger_; }
    // Called whenever state() or triggerDescription() changes.
    void setOnChange(std::function<void()> callback) { onChange_ = std::move(callback); }
    // Whether the user may still hold the shortcut's keys: from its
    // activation until kLetGoGrace after its deactivation. The portal tells
    // when the trigger ends, not when the last modifier goes up, and a
    // synthetic chord would carry a modifier still held.
    static constexpr Duration kLetGoGrace = std::chrono::milliseconds(200);
    bool held() const;
    // For a desktop whose portal sends Activated and never Deactivated (KDE
    // Plasma 5.27): each activation is a press and its release at once.
    void setReleasesUnannounced(bool unannounced) { releasesUnannounced_ = unannounced; }
    // A portal that leaves the bus (a crash, an update) takes our session
    // along; the shortcut is bound again this long after, in a new session.
    // Binding again shows no dialog: the desktop keeps the shortcut for our id.
    static constexpr Duration kRebindDelay = std::chrono::seconds(1);

    // hotkey::HotKeyService
    hotkey::HotKeyRegistration registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                   hotkey::EventHotKeyID hotKeyID) override;
    void unregisterEventHotKey(hotkey::EventHotKeyRef handle) override;
    std::optional<hotkey::EventHandlerRef> installEventHandler(EventCallback callback) override;

private:
    class Signals;
    void startSession();
    void sessionEnded(PortalSession::End end);
    void bind();
    void listShortcuts();
    void setState(State state);
    void readShortcuts(const QVariant& list);
    void activated(const QString& session, const QString& shortcut, bool pressed);

    PortalConnection& portal_;
    CategoryLogger log_;
    std::string description_;
    std::unique_ptr<Signals> signals_;
    std::unique_ptr<PortalSession> session_;
    bool creating_ = false;
    State state_ = State::idle;
    std::string trigger_;
    std::string preferred_;
    std::optional<hotkey::EventHotKeyID> current_;
    std::uint64_t currentHandle_ = 0;
    std::uint64_t nextHandle_ = 1;
    EventCallback callback_;
    std::function<void()> onChange_;
    std::uint64_t handlerCount_ = 0;
    bool releasesUnannounced_ = false;
    bool held_ = false;
    std::optional<TimePoint> releasedAt_;
    TimerHandle rebind_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

std::string describe(GlobalShortcutsHotKeyService::State state);

}  // namespace quillant::linux_platform
