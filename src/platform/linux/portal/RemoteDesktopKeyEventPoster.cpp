#include "platform/linux/portal/RemoteDesktopKeyEventPoster.h"

#include <X11/keysym.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <fstream>
#include <sstream>
#include <system_error>

#include "hotkey/Key.h"
#include "platform/linux/x11/KeysymTable.h"
#include "runtime/AtomicFile.h"

namespace quillant::linux_platform {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr std::uint32_t kKeyboard = 1;
constexpr std::uint32_t kPersistUntilRevoked = 2;
constexpr Duration kQuickBound = std::chrono::seconds(10);
// Start asks the user the first time; they may take their time.
constexpr Duration kDialogBound = std::chrono::minutes(3);
// One key event: the portal answers at once or not at all.
constexpr int kKeyCallBoundMs = 500;

bool plausibleToken(const std::string& token) {
    if (token.empty() || token.size() > 512) return false;
    for (unsigned char c : token)
        if (c < 0x21 || c > 0x7e) return false;
    return true;
}

}  // namespace

std::string describe(RemoteDesktopKeyEventPoster::State state) {
    using State = RemoteDesktopKeyEventPoster::State;
    switch (state) {
        case State::idle: return "idle";
        case State::starting: return "starting";
        case State::ready: return "ready";
        case State::refused: return "refused";
        case State::failed: return "failed";
        case State::closed: return "closed";
    }
    return "failed";
}

RemoteDesktopKeyEventPoster::RemoteDesktopKeyEventPoster(PortalConnection& portal, Logger& logger,
                                                         std::filesystem::path tokenFile, PortalKeyboardMap keyboard)
    : portal_(portal),
      log_(logger, std::string(kLogSubsystem), "keystrokes"),
      tokenFile_(std::move(tokenFile)),
      keyboard_(std::move(keyboard)) {
    control_ = keyboard_.keyFor(XK_Control_L);
    if (!control_) control_ = keyboard_.keyFor(XK_Control_R);
    shift_ = keyboard_.keyFor(XK_Shift_L);
    if (!shift_) shift_ = keyboard_.keyFor(XK_Shift_R);
}

RemoteDesktopKeyEventPoster::~RemoteDesktopKeyEventPoster() {
    *alive_ = false;
    restart_.cancel();
    stop();
}

bool RemoteDesktopKeyEventPoster::offered(PortalConnection& portal) {
    if (!portal.interfaceVersion(kInterface)) return false;
    // A backend that offers no keyboard (only a pointer, or a screen) is no use to us.
    const auto devices = portal.uintProperty(kInterface, QStringLiteral("AvailableDeviceTypes"));
    return !devices || (*devices & kKeyboard);
}

RemoteDesktopKeyEventPoster::State RemoteDesktopKeyEventPoster::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void RemoteDesktopKeyEventPoster::setHeldProbe(std::function<bool()> probe) { heldProbe_ = std::move(probe); }

void RemoteDesktopKeyEventPoster::start(std::function<void(State)> done) {
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::starting || state_ == State::ready) return;
        state_ = State::starting;
    }
    done_ = std::move(done);
    version_ = portal_.interfaceVersion(kInterface).value_or(1);
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), portal_.newToken("remote"));
    portal_.request(kInterface, QStringLiteral("CreateSession"), {}, options, kQuickBound,
                    [this, alive = alive_](PortalResult result) {
                        if (!*alive) return;
                        const QString handle = sessionHandleFrom(result.results);
                        if (result.outcome != PortalOutcome::success || handle.isEmpty()) {
                            log_.error("The desktop's remote-desktop portal gave no session (" +
                                       describe(result.outcome) + "); keystrokes go through XWayland only");
                            finishStart(result.outcome == PortalOutcome::failed ||
                                                result.outcome == PortalOutcome::timedOut
                                            ? State::failed
                                            : State::refused);
                            return;
                        }
                        session_ = std::make_unique<PortalSession>(
                            portal_, handle, [this](PortalSession::End end) { sessionEnded(end); });
                        {
                            std::lock_guard lock(mutex_);
                            sessionHandle_ = handle;
                        }
                        selectDevices();
                    });
}

void RemoteDesktopKeyEventPoster::sessionEnded(PortalSession::End end) {
    {
        std::lock_guard lock(mutex_);
        // The desktop drops the session's device and with it what it held.
        pressed_.clear();
        state_ = State::closed;
        sessionHandle_.clear();
    }
    if (end == PortalSession::End::closedByPortal) {
        log_.error("The desktop ended the keyboard session; keystrokes go through XWayland only until quillant starts again");
        return;
    }
    // Without a kept permission, starting again would put a dialog up out of
    // nowhere; but a portal that keeps none (version 1) asks at every start
    // anyway, and without the session native Wayland windows get no keys.
    const bool asksEachStart = version_ < 2;
    if (!asksEachStart && !savedToken()) {
        log_.error("The desktop portal went away; keystrokes go through XWayland only until quillant starts again");
        return;
    }
    log_.error(asksEachStart
                   ? "The desktop portal went away; the keyboard session starts again in a moment, and the desktop asks again"
                   : "The desktop portal went away; the keyboard session starts again in a moment, with the kept permission");
    restart_.cancel();
    restart_ = portal_.executor().schedule(kRestartDelay, [this, alive = alive_] {
        if (!*alive) return;
        // The ended session was the sender of the signal that brought us here.
        if (session_ && !session_->open()) session_.reset();
        if (state() == State::closed) start();
    });
}

void RemoteDesktopKeyEventPoster::selectDevices() {
    QVariantMap options;
    options.insert(QStringLiteral("types"), QVariant::fromValue(kKeyboard));
    std::string sent;
    // Persistence came with version 2 of the interface.
    if (version_ >= 2) {
        options.insert(QStringLiteral("persist_mode"), QVariant::fromValue(kPersistUntilRevoked));
        if (auto token = savedToken()) {
            options.insert(QStringLiteral("restore_token"), QString::fromStdString(*token));
            sent = " with the saved permission";
        }
    }
    const QVariantList arguments{QVariant::fromValue(QDBusObjectPath(session_->handle()))};
    portal_.request(kInterface, QStringLiteral("SelectDevices"), arguments, options, kQuickBound,
                    [this, alive = alive_, sent](PortalResult result) {
                        if (!*alive) return;
                        if (result.outcome != PortalOutcome::success) {
                            log_.error("The desktop's remote-desktop portal did not take the keyboard request" + sent +
                                       ": " + describe(result.outcome) + "; keystrokes go through XWayland only");
                            finishStart(result.outcome == PortalOutcome::failed ? State::failed : State::refused);
                            return;
                        }
                        startSession();
                    });
}

void RemoteDesktopKeyEventPoster::startSession() {
    const QVariantList arguments{QVariant::fromValue(QDBusObjectPath(session_->handle())), QString()};
    portal_.request(
        kInterface, QStringLiteral("Start"), arguments, {}, kDialogBound, [this, alive = alive_](PortalResult result) {
            if (!*alive) return;
            if (result.outcome != PortalOutcome::success) {
                log_.error("Keyboard access through the desktop's remote-desktop portal: " + describe(result.outcome) +
                           "; keystrokes go through XWayland only");
                // A restore token is spent once used; the next start asks again.
                std::error_code ignored;
                std::filesystem::remove(tokenFile_, ignored);
                finishStart(result.outcome == PortalOutcome::failed || result.outcome == PortalOutcome::timedOut
                                ? State::failed
                                : State::refused);
                return;
            }
            const auto devices = result.results.value(QStringLiteral("devices")).toUInt();
            if (!(devices & kKeyboard)) {
                log_.error("The desktop started the remote-desktop session without a keyboard; keystrokes go through XWayland only");
                finishStart(State::refused);
                return;
            }
            const QString token = result.results.value(QStringLiteral("restore_token")).toString();
            if (!token.isEmpty())
                saveToken(token.toStdString());
            else {
                std::error_code ignored;
                std::filesystem::remove(tokenFile_, ignored);
            }
            prime();
            log_.info(std::string("Keyboard access through the desktop's remote-desktop portal: allowed") +
                      (keyboard_.usesKeycodes() ? " (keycodes from the compositor's keymap)" : " (keysyms)"));
            finishStart(State::ready);
        });
}

void RemoteDesktopKeyEventPoster::finishStart(State state) {
    {
        std::lock_guard lock(mutex_);
        state_ = state;
        reportedNotReady_ = false;
    }
    if (state != State::ready && session_) {
        session_.reset();
        std::lock_guard lock(mutex_);
        sessionHandle_.clear();
    }
    if (auto done = std::exchange(done_, {})) done(state);
}

void RemoteDesktopKeyEventPoster::stop() {
    {
        std::lock_guard lock(mutex_);
        releaseAll();
        if (state_ == State::ready || state_ == State::starting) state_ = State::closed;
        sessionHandle_.clear();
    }
    session_.reset();
}

void RemoteDesktopKeyEventPoster::prime() {
    // GNOME 43 loses the first key event of a new session, which would be the
    // first fix's Ctrl+C; a modifier alone is harmless wherever it lands.
    std::lock_guard lock(mutex_);
    const auto key = shift_ ? shift_ : control_;
    if (!key || sessionHandle_.isEmpty()) return;
    if (send(*key, true)) send(*key, false);
}

std::optional<std::string> RemoteDesktopKeyEventPoster::savedToken() const {
    std::ifstream in(tokenFile_);
    if (!in) return std::nullopt;
    std::string token;
    std::getline(in, token);
    if (!plausibleToken(token)) return std::nullopt;
    return token;
}

void RemoteDesktopKeyEventPoster::saveToken(const std::string& token) {
    if (!plausibleToken(token)) return;
    std::error_code error;
    std::filesystem::create_directories(tokenFile_.parent_path(), error);
    const int failed = replaceFileAtomically(tokenFile_, token + "\n", 0600);
    if (failed) log_.error("Could not keep the desktop's permission for keystrokes (" + tokenFile_.string() + "): " +
                           std::error_code(failed, std::generic_category()).message() + "; the desktop will ask again");
}

bool RemoteDesktopKeyEventPoster::createEventSource() {
    std::lock_guard lock(mutex_);
    return state_ == State::ready;
}

void RemoteDesktopKeyEventPoster::releaseEventSource() {}

std::optional<PortalKey> RemoteDesktopKeyEventPoster::keyFor(std::uint16_t keyCode) const {
    const auto key = hotkey::Key::fromCarbonKeyCode(keyCode);
    if (!key) return std::nullopt;
    return keyboard_.keyFor(keysymForKey(*key));
}

bool RemoteDesktopKeyEventPoster::canCreateEvent(std::uint16_t keyCode, bool keyDown) {
    std::lock_guard lock(mutex_);
    if (state_ != State::ready) {
        if (keyDown && !reportedNotReady_) {
            log_.error("Chord not sent: the desktop's remote-desktop session is " + describe(state_));
            reportedNotReady_ = true;
        }
        return false;
    }
    if (!control_) {
        if (keyDown) log_.error("Chord not sent: the keymap has no Control key");
        return false;
    }
    if (!keyFor(keyCode)) {
        if (keyDown) log_.error("Chord not sent: no key in the keymap for key code " + std::to_string(keyCode));
        return false;
    }
    return true;
}

bool RemoteDesktopKeyEventPoster::send(const PortalKey& key, bool down) {
    const bool keycode = key.kind == PortalKey::Kind::keycode;
    auto message = QDBusMessage::createMethodCall(
        kPortalService, kPortalPath, kInterface,
        keycode ? QStringLiteral("NotifyKeyboardKeycode") : QStringLiteral("NotifyKeyboardKeysym"));
    message << QVariant::fromValue(QDBusObjectPath(sessionHandle_)) << QVariantMap() << key.code
            << static_cast<std::uint32_t>(down ? 1 : 0);
    const QDBusMessage reply = portal_.bus().call(message, QDBus::Block, kKeyCallBoundMs);
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
    log_.error(std::string("Key ") + (down ? "press" : "release") + " not taken by the desktop's remote-desktop portal: " +
               reply.errorName().toStdString() + " " + reply.errorMessage().toStdString());
    // The portal is gone (it crashed or was restarted) and our session with it.
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        if (state_ == State::ready) log_.error("The desktop portal went away; this chord is not sent");
        state_ = State::closed;
        sessionHandle_.clear();
    }
    return false;
}

bool RemoteDesktopKeyEventPoster::press(const PortalKey& key) {
    // Remembered before the call: a press that timed out may still land.
    pressed_.push_back(key);
    return send(key, true);
}

void RemoteDesktopKeyEventPoster::releaseAll() {
    if (sessionHandle_.isEmpty()) {
        pressed_.clear();
        return;
    }
    while (!pressed_.empty() && !sessionHandle_.isEmpty()) {
        const PortalKey key = pressed_.back();
        pressed_.pop_back();
        send(key, false);
    }
    pressed_.clear();
}

bool RemoteDesktopKeyEventPoster::post(const clipboard::KeyEvent& event) {
    std::lock_guard lock(mutex_);
    if (state_ != State::ready) return false;
    const auto key = keyFor(event.keyCode);
    const bool command = (event.flags & clipboard::kCommandFlag) != 0;
    const bool shift = (event.flags & clipboard::kShiftFlag) != 0;
    // Never a bare letter over the selection, never Ctrl+C for a terminal that wants Ctrl+Shift+C.
    if (!key || (command && !control_) || (shift && !shift_)) return false;
    if (event.keyDown) {
        releaseAll();  // whatever a failed chord left
        if ((command && !press(*control_)) || (shift && !press(*shift_)) || !press(*key)) {
            releaseAll();
            return false;
        }
        return true;
    }
    // The key, then its modifiers; everything else still down goes too.
    bool sent = true;
    if (!pressed_.empty() && pressed_.back() == *key) {
        pressed_.pop_back();
        sent = send(*key, false);
    }
    releaseAll();
    return sent;
}

bool RemoteDesktopKeyEventPoster::keysHeld() { return heldProbe_ && heldProbe_(); }

clipboard::KeyEventPoster* PreferredKeyEventPoster::chosen() {
    return preferred_.state() == RemoteDesktopKeyEventPoster::State::ready ? &preferred_ : fallback_;
}

bool PreferredKeyEventPoster::createEventSource() {
    current_ = chosen();
    return current_ && current_->createEventSource();
}

void PreferredKeyEventPoster::releaseEventSource() {
    if (current_) current_->releaseEventSource();
}

bool PreferredKeyEventPoster::canCreateEvent(std::uint16_t keyCode, bool keyDown) {
    if (!current_) current_ = chosen();
    return current_ && current_->canCreateEvent(keyCode, keyDown);
}

bool PreferredKeyEventPoster::post(const clipboard::KeyEvent& event) {
    if (!current_) current_ = chosen();
    return current_ && current_->post(event);
}

bool PreferredKeyEventPoster::keysHeld() {
    auto* poster = chosen();
    return poster && poster->keysHeld();
}

}  // namespace quillant::linux_platform
