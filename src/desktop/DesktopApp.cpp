// The desktop agent's composition root: every platform service is made here,
// once, and handed to the coordinator.
#include "desktop/DesktopApp.h"

#include <malloc.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDesktopServices>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/AppCoordinator.h"
#include "app/BuildConfig.h"
#include "app/CorrectionsSettings.h"
#include "clipboard/KeyEventSynth.h"
#include "clipboard/PasteboardBroker.h"
#include "credentials/TokenStore.h"
#include "hotkey/HotKeysController.h"
#include "hotkey/KeyCombo.h"
#include "hotkey/Preferences.h"
#include "hotkey/ShortcutStyle.h"
#include "platform/linux/InstanceChannel.h"
#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/LocalServiceProcess.h"
#include "platform/linux/JournalLogger.h"
#include "platform/linux/PosixProcess.h"
#include "platform/linux/SessionPlan.h"
#include "platform/linux/SettingsFileStore.h"
#include "platform/linux/qt/QtExecutor.h"
#include "platform/linux/qt/QtKeyDownMonitor.h"
#include "platform/linux/portal/PortalDesktop.h"
#include "platform/linux/portal/ShortcutFallbackHotKeyService.h"
#include "platform/linux/wayland/ClipboardKeeper.h"
#include "platform/linux/wayland/SeatKeymap.h"
#include "platform/linux/wayland/SwayFocusInspector.h"
#include "platform/linux/wayland/WaylandClipboard.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "platform/linux/wayland/WaylandKeyEventPoster.h"
#include "platform/linux/x11/X11ClickWatcher.h"
#include "platform/linux/x11/X11Clipboard.h"
#include "platform/linux/x11/X11FocusInspector.h"
#include "platform/linux/x11/X11HotKeyService.h"
#include "platform/linux/x11/XTestAccessibilityGate.h"
#include "platform/linux/x11/XTestKeyEventPoster.h"
#include "runtime/ThreadWorkRunner.h"
#include "ui/AccessibilityHelp.h"
#include "ui/DesktopNotifier.h"
#include "ui/MenuBarView.h"
#include "ui/TrayIcon.h"

namespace quillant::desktop {

using app::AppCoordinator;
using app::CoordinatorServices;

namespace {

// Why the X server refused a key grab, in the words the user reads.
std::string whyRefused(std::int32_t status) {
    if (status == hotkey::eventHotKeyExistsErr) return "another program holds it";
    if (status == linux_platform::X11HotKeyService::kUnknownKeyErr) return "this keyboard layout has no such key";
    return "the key grab failed (status " + std::to_string(status) + ")";
}

// Says so when the combination cannot be taken (another program holds it, or
// the layout has no such key): the hotkey would otherwise silently never fire.
class ReportingHotKeyService final : public hotkey::HotKeyService {
public:
    ReportingHotKeyService(hotkey::HotKeyService& inner, Logger& logger, std::FILE* err)
        : inner_(inner), log_(logger, std::string(kLogSubsystem), "hotkeys"), err_(err) {}

    hotkey::HotKeyRegistration registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                   hotkey::EventHotKeyID id) override {
        auto result = inner_.registerEventHotKey(keyCode, modifiers, id);
        refusal_.reset();
        if (result.status != hotkey::noErr || !result.handle) {
            refusal_ = whyRefused(result.status);
            const std::string combo =
                hotkey::describeCombo(hotkey::KeyCombo(keyCode, modifiers), hotkey::ShortcutStyle::linuxWords, "?");
            const std::string line = "hotkey " + combo + " could not be armed: " + *refusal_ + " (status " +
                                     std::to_string(result.status) + ")";
            log_.error(line);
            std::fprintf(err_, "quillant: %s\n", line.c_str());
            std::fflush(err_);
        }
        return result;
    }
    void unregisterEventHotKey(hotkey::EventHotKeyRef handle) override { inner_.unregisterEventHotKey(handle); }
    std::optional<hotkey::EventHandlerRef> installEventHandler(EventCallback callback) override {
        return inner_.installEventHandler(std::move(callback));
    }
    // Why the last registration failed; none when it succeeded.
    const std::optional<std::string>& lastRefusal() const { return refusal_; }

private:
    hotkey::HotKeyService& inner_;
    CategoryLogger log_;
    std::FILE* err_;
    std::optional<std::string> refusal_;
};

// Where no key grab is possible (a Wayland session without an X display) the
// hotkey comes from the desktop's own shortcut running `quillant trigger`:
// registrations succeed and never fire.
class TriggerOnlyHotKeyService final : public hotkey::HotKeyService {
public:
    hotkey::HotKeyRegistration registerEventHotKey(std::uint32_t, std::uint32_t, hotkey::EventHotKeyID) override {
        return {hotkey::noErr, hotkey::EventHotKeyRef(++next_)};
    }
    void unregisterEventHotKey(hotkey::EventHotKeyRef) override {}
    std::optional<hotkey::EventHandlerRef> installEventHandler(EventCallback) override {
        return hotkey::EventHandlerRef(1);
    }

private:
    std::uint64_t next_ = 0;
};

// Keystrokes through the compositor's virtual keyboard need no permission;
// they are possible while the connection holds.
class VirtualKeyboardGate final : public app::AccessibilityGate {
public:
    VirtualKeyboardGate(linux_platform::WaylandKeyEventPoster& poster, Logger& logger)
        : poster_(poster), log_(logger, std::string(kLogSubsystem), "accessibility") {}
    bool isProcessTrusted(bool prompt) override {
        const bool ok = poster_.createEventSource();
        if (!ok && prompt)
            log_.error("The compositor's virtual keyboard is gone or has no keyboard map with Control, C and V; "
                       "restart quillant");
        return ok;
    }

private:
    linux_platform::WaylandKeyEventPoster& poster_;
    CategoryLogger log_;
};

// Keys through the compositor while the hotkey is grabbed on XWayland: a
// grab fired by a held hotkey key turns active and would take our synthetic
// keys as XWayland delivers them, so it is ended before every chord.
class GrabEndingKeyEventPoster final : public clipboard::KeyEventPoster {
public:
    GrabEndingKeyEventPoster(clipboard::KeyEventPoster& inner, linux_platform::X11HotKeyService& grabs)
        : inner_(inner), grabs_(grabs) {}
    bool createEventSource() override { return inner_.createEventSource(); }
    void releaseEventSource() override { inner_.releaseEventSource(); }
    bool canCreateEvent(std::uint16_t keyCode, bool keyDown) override { return inner_.canCreateEvent(keyCode, keyDown); }
    bool post(const clipboard::KeyEvent& event) override {
        if (event.keyDown) grabs_.endActiveGrab();
        return inner_.post(event);
    }
    bool keysHeld() override { return inner_.keysHeld(); }

private:
    clipboard::KeyEventPoster& inner_;
    linux_platform::X11HotKeyService& grabs_;
};

// What a later start or the command line asks of the running agent.
std::string answerRequest(const std::string& command, const std::string& argument, AppCoordinator& coordinator,
                          const std::function<void(QRect, QPoint)>& openPanel, CategoryLogger& log,
                          bool localCorrector = false) {
    // The local corrector's key is quillant's own: an API key handed over must not replace it.
    if (localCorrector && (command == "key-set" || command == "key-clear"))
        return "error the running quillant uses its local corrector, which needs no API key";
    if (command == "show-panel") {
        openPanel({}, QCursor::pos());
        log.info("panel opened for another start of quillant");
        return "ok";
    }
    if (command == "key-set") return coordinator.saveBackendToken(argument) ? "ok" : "error Failed to save key";
    if (command == "key-clear") {
        coordinator.clearBackendToken();
        return "ok";
    }
    if (command == "trigger") {
        // Exactly what a press of the hotkey does.
        log.info("hotkey press handed over by quillant trigger");
        coordinator.hotkeyPressed();
        return "ok";
    }
    if (command == "ping") return std::string("ok quillant ") + build::kVersion;
    return "error unknown request: " + command;
}

// On a Wayland session, the desktop portal's hotkey and keyboard where it
// offers them (X11 windows keep working through XWayland either way). The
// portal gets a bus connection of its own: our application id must be its
// first portal call, and Qt's shared connection may have made others.
linux_platform::PortalServices portalServicesFor(Executor& executor, Logger& logger,
                                                 const std::filesystem::path& configDirectory, const char* wayland,
                                                 bool virtualKeyboard) {
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    linux_platform::PortalSessionFacts facts;
    facts.waylandSession = linux_platform::isWaylandSession(sessionType ? sessionType : "", wayland ? wayland : "");
    if (!facts.waylandSession) return {};
    // The wlroots virtual keyboard, where the compositor has one, goes before the portal's.
    facts.virtualKeyboard = virtualKeyboard;
    // The portal's keyboard presses keycodes: they must mean what the compositor's keymap says.
    if (!virtualKeyboard && wayland && *wayland) facts.compositorKeymap = linux_platform::readSeatKeymap(wayland);
    facts.configDirectory = configDirectory;
    return linux_platform::selectPortalServices(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("quillant-portal")), executor, logger,
        facts);
}

// One agent per session: the first start claims the session's channel; a
// later one opens the running agent's panel and ends (`exitCode` says how).
std::unique_ptr<linux_platform::InstanceServer> claimInstance(cli::ProgramContext& context,
                                                              const std::filesystem::path& runtimeFolder,
                                                              const std::string& instanceName, int& exitCode) {
    std::string claimError;
    auto instance = linux_platform::InstanceServer::claim(runtimeFolder, instanceName, claimError);
    if (instance) return instance;
    exitCode = cli::kExitFailure;
    if (!claimError.empty()) {
        std::fprintf(context.err, "quillant: %s\n", claimError.c_str());
        return nullptr;
    }
    std::string error;
    if (auto answer = linux_platform::sendToInstance(runtimeFolder, instanceName, "show-panel", std::nullopt,
                                                     std::chrono::seconds(5), error);
        answer && *answer == "ok") {
        std::fputs("quillant is already running; its panel is open\n", context.err);
        exitCode = cli::kExitOK;
        return nullptr;
    }
    std::fprintf(context.err, "quillant is already running but does not answer: %s\n",
                 error.empty() ? "it refused the request" : error.c_str());
    return nullptr;
}

// What the display servers of this session give us, one realisation per
// concern. Members go in reverse order: the focus and the keystrokes before
// the connections they were made beside.
struct SessionDevices {
    std::unique_ptr<linux_platform::WaylandClipboard> waylandClipboard;
    std::unique_ptr<linux_platform::WaylandKeyEventPoster> waylandPoster;
    std::unique_ptr<linux_platform::X11Clipboard> x11Clipboard;
    std::unique_ptr<linux_platform::X11HotKeyService> hotKeyService;
    std::unique_ptr<linux_platform::XTestKeyEventPoster> x11Poster;
    std::unique_ptr<clipboard::FocusInspector> focus;
    // How the hotkey is heard on this session, as quillant doctor says it.
    std::string hotkeyPlan;

    clipboard::Pasteboard& pasteboard() {
        return waylandClipboard ? static_cast<clipboard::Pasteboard&>(*waylandClipboard) : *x11Clipboard;
    }
};

// On Wayland each concern takes the compositor's protocol where it is
// offered, and the X11 way (through XWayland) where it is not; quillant
// doctor reports the same plan. Answers why quillant cannot work here, if so.
// What the display servers offer, as quillant doctor reads it too.
linux_platform::SessionFacts readSessionFacts(const std::string& display, const char* wayland,
                                              CategoryLogger& sessionLog) {
    linux_platform::SessionFacts facts;
    facts.x11 = !display.empty();
    facts.xtest = facts.x11;  // the accessibility gate tells the user when it is missing
    if (const char* sway = std::getenv("SWAYSOCK"); sway && *sway)
        facts.swayIpc = linux_platform::SwayFocusInspector::reachable(sway);
    if (!wayland || !*wayland) return facts;
    std::string error;
    if (auto globals = linux_platform::probeWaylandGlobals(wayland, error)) {
        const linux_platform::WaylandOffer offer = linux_platform::waylandOffer(*globals);
        facts.wayland = true;
        facts.seat = offer.seat;
        facts.dataControl = offer.dataControl;
        facts.virtualKeyboard = offer.virtualKeyboard;
    } else {
        sessionLog.error("cannot reach the Wayland compositor " + std::string(wayland) + ": " + error);
    }
    return facts;
}

std::optional<std::string> openSessionDevices(const std::string& display, const char* wayland, Logger& logger,
                                              SessionDevices& devices) {
    CategoryLogger sessionLog(logger, std::string(kLogSubsystem), "session");
    const bool waylandSession = wayland && *wayland;
    const linux_platform::SessionFacts facts = readSessionFacts(display, wayland, sessionLog);
    const linux_platform::SessionPlan plan = linux_platform::planSession(facts);
    devices.hotkeyPlan = linux_platform::describeHotkey(plan, facts);
    if (plan.clipboard == linux_platform::SessionPlan::Clipboard::dataControl) {
        try {
            devices.waylandClipboard = std::make_unique<linux_platform::WaylandClipboard>(logger, wayland);
            sessionLog.info("clipboard: Wayland " + devices.waylandClipboard->protocol());
        } catch (const std::exception& e) {
            sessionLog.error(std::string("cannot use the Wayland clipboard: ") + e.what());
        }
    }
    if (plan.keystrokes == linux_platform::SessionPlan::Keystrokes::virtualKeyboard) {
        try {
            devices.waylandPoster = std::make_unique<linux_platform::WaylandKeyEventPoster>(logger, wayland);
            sessionLog.info("keystrokes: Wayland virtual keyboard");
            // Wayland tells no client which window has the focus; sway's tree does.
            if (plan.focus == linux_platform::SessionPlan::Focus::sway) {
                devices.focus = std::make_unique<linux_platform::SwayFocusInspector>(std::getenv("SWAYSOCK"));
                sessionLog.info("the focused application: from sway's IPC");
            } else {
                sessionLog.info("the focused application is unknown on Wayland: terminals cannot be told apart, every "
                                "application gets Ctrl+C and Ctrl+V");
            }
        } catch (const std::exception& e) {
            sessionLog.error(std::string("cannot use the Wayland virtual keyboard: ") + e.what());
        }
    }
    if (waylandSession && !devices.waylandClipboard)
        sessionLog.info("the compositor offers no data-control clipboard (ext-data-control-v1 or "
                        "wlr-data-control); using the X11 clipboard through XWayland");
    if (waylandSession && !devices.waylandPoster)
        sessionLog.info("the compositor offers no virtual keyboard; sending keys through XWayland (XTest), which "
                        "reach X11 applications only");
    if (!devices.waylandClipboard && display.empty())
        return "this Wayland compositor offers no data-control clipboard, and there is no X display (XWayland) to use "
               "instead; see quillant doctor";
    try {
        if (!devices.waylandClipboard) devices.x11Clipboard = std::make_unique<linux_platform::X11Clipboard>(logger);
        if (!display.empty()) devices.hotKeyService = std::make_unique<linux_platform::X11HotKeyService>(logger);
        if (!devices.waylandPoster && !display.empty()) {
            devices.x11Poster = std::make_unique<linux_platform::XTestKeyEventPoster>(logger);
            devices.focus = std::make_unique<linux_platform::X11FocusInspector>();
        }
    } catch (const std::exception& e) {
        return "cannot use the X11 display " + display + ": " + e.what();
    }
    return std::nullopt;
}

// What start-up settles before anything else is made: where the session is,
// and that this is its one agent.
struct Claimed {
    std::string display;
    const char* wayland = nullptr;  // WAYLAND_DISPLAY, or null
    bool waylandSession = false;
    std::filesystem::path runtimeFolder;
    std::filesystem::path configDirectory;
    std::unique_ptr<linux_platform::InstanceServer> instance;
};

std::optional<Claimed> claimTheSession(cli::ProgramContext& context, int& exitCode) {
    exitCode = cli::kExitFailure;
    Claimed claimed;
    const char* displayVariable = std::getenv("DISPLAY");
    claimed.display = displayVariable ? displayVariable : "";
    claimed.wayland = std::getenv("WAYLAND_DISPLAY");
    claimed.waylandSession = claimed.wayland && *claimed.wayland;
    if (claimed.display.empty() && !claimed.waylandSession) {
        std::fputs("quillant: no display to work on (neither DISPLAY nor WAYLAND_DISPLAY is set); run it inside your "
                   "desktop session\n",
                   context.err);
        return std::nullopt;
    }
    if (!context.home) {
        std::fputs("quillant: cannot find your home directory (set HOME)\n", context.err);
        return std::nullopt;
    }
    const auto runtimeFolder = linux_platform::privateRuntimeFolder(context.xdgRuntimeDir);
    if (!runtimeFolder.path) {
        std::fprintf(context.err, "quillant: %s\n", runtimeFolder.error.c_str());
        return std::nullopt;
    }
    claimed.runtimeFolder = *runtimeFolder.path;
    claimed.instance = claimInstance(
        context, claimed.runtimeFolder,
        linux_platform::sessionInstanceName(claimed.display, claimed.wayland ? claimed.wayland : ""), exitCode);
    if (!claimed.instance) return std::nullopt;
    auto configDirectory = linux_platform::defaultConfigDirectory();
    if (!configDirectory) {
        std::fputs("quillant: cannot find a configuration directory (set HOME or XDG_CONFIG_HOME)\n", context.err);
        exitCode = cli::kExitFailure;
        return std::nullopt;
    }
    claimed.configDirectory = *configDirectory;
    return claimed;
}

// SIGINT, SIGTERM and SIGHUP (the session or the terminal going away) are
// taken through a signalfd on the event loop, so the shutdown always runs.
// Made before any thread starts, so that none of them takes the signals.
class QuitSignals {
public:
    QuitSignals() {
        sigset_t quitSignals;
        sigemptyset(&quitSignals);
        sigaddset(&quitSignals, SIGINT);
        sigaddset(&quitSignals, SIGTERM);
        sigaddset(&quitSignals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
        fd_ = signalfd(-1, &quitSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~QuitSignals() {
        if (fd_ >= 0) ::close(fd_);
    }
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;
    int fd() const { return fd_; }
    void drain() const {
        signalfd_siginfo info;
        while (::read(fd_, &info, sizeof info) == sizeof info) {
        }
    }

private:
    int fd_ = -1;
};

// QUILLANT_LOG=stderr keeps the log on the terminal (it goes to the journal otherwise).
std::unique_ptr<Logger> makeLogger() {
    const char* logChoice = std::getenv("QUILLANT_LOG");
    if (logChoice && std::string_view(logChoice) == "stderr") return std::make_unique<StderrLogger>();
    return std::make_unique<linux_platform::JournalLogger>();
}

// The descriptors the event loop watches for us; each is let go when this goes.
class Watches {
public:
    explicit Watches(linux_platform::QtExecutor& executor) : executor_(executor) {}
    ~Watches() {
        for (int fd : fds_) executor_.unwatch(fd);
    }
    Watches(const Watches&) = delete;
    Watches& operator=(const Watches&) = delete;
    void add(int fd, std::function<void()> handler) {
        executor_.watchReadable(fd, std::move(handler));
        fds_.push_back(fd);
    }
    void remove(int fd) {
        executor_.unwatch(fd);
        std::erase(fds_, fd);
    }

private:
    linux_platform::QtExecutor& executor_;
    std::vector<int> fds_;
};

// The display connections and the quit signals feed the event loop. A display
// that goes away ends the agent, as the end of the session does.
void watchTheSession(Watches& watches, SessionDevices& devices, const QuitSignals& quit) {
    if (auto* x11 = devices.x11Clipboard.get())
        watches.add(x11->fd(), [x11] {
            x11->processPendingEvents();
            if (!x11->connected()) QApplication::quit();
        });
    if (auto* wl = devices.waylandClipboard.get())
        watches.add(wl->fd(), [wl] {
            wl->processPendingEvents();
            if (!wl->connected()) QApplication::quit();
        });
    if (auto* poster = devices.waylandPoster.get())
        watches.add(poster->fd(), [poster] { poster->processPendingEvents(); });
    if (auto* grabs = devices.hotKeyService.get()) watches.add(grabs->fd(), [grabs] { grabs->processPendingEvents(); });
    if (quit.fd() >= 0)
        watches.add(quit.fd(), [quitSignals = &quit] {
            quitSignals->drain();
            QApplication::quit();
        });
    if (devices.x11Poster && devices.hotKeyService)
        devices.x11Poster->setGrabBreaker([grabs = devices.hotKeyService.get()] { grabs->endActiveGrab(); });
}

// How the keys are pressed and the hotkey heard on this session: the
// compositor's virtual keyboard, the desktop portal (GNOME, KDE) for what the
// compositor does not offer, XTest and key grabs on X11 (and XWayland).
struct Keyboard {
    linux_platform::PortalServices portals;
    // The grab on XWayland where the shortcut portal leaves the hotkey dead.
    std::optional<linux_platform::ShortcutFallbackHotKeyService> portalOrGrab;
    // For telling the user where to bind `quillant trigger`.
    linux_platform::SessionFacts facts;
    std::optional<GrabEndingKeyEventPoster> grabEnding;
    std::optional<linux_platform::PreferredKeyEventPoster> portalPoster;
    TriggerOnlyHotKeyService triggerOnly;
    // A press handed over by `quillant trigger`: the desktop's shortcut is bound.
    bool triggerHeard = false;
    clipboard::KeyEventPoster* keystrokes = nullptr;
    hotkey::HotKeyService* hotkeys = nullptr;
    std::unique_ptr<app::AccessibilityGate> accessibility;
};

std::optional<std::string> chooseTheKeyboard(Keyboard& keyboard, SessionDevices& devices, const Claimed& claimed,
                                             Executor& executor, Logger& logger) {
    auto& waylandPoster = devices.waylandPoster;
    auto& x11Poster = devices.x11Poster;
    auto& grabs = devices.hotKeyService;
    if (waylandPoster && grabs) keyboard.grabEnding.emplace(*waylandPoster, *grabs);
    keyboard.portals = portalServicesFor(executor, logger, claimed.configDirectory, claimed.wayland,
                                         waylandPoster != nullptr);
    if (auto& portalKeys = keyboard.portals.keyboard) {
        if (!keyboard.portals.hotkeys && x11Poster)
            portalKeys->setHeldProbe([x11 = x11Poster.get()] { return x11->keysHeld(); });
        // Asked now rather than at the first fix: the dialog would take the focus from the selection.
        portalKeys->start();
        keyboard.portalPoster.emplace(*portalKeys, x11Poster.get());
    }
    if (keyboard.portalPoster)
        keyboard.keystrokes = &*keyboard.portalPoster;
    else if (keyboard.grabEnding)
        keyboard.keystrokes = &*keyboard.grabEnding;
    else if (waylandPoster)
        keyboard.keystrokes = waylandPoster.get();
    else
        keyboard.keystrokes = x11Poster.get();
    if (!keyboard.keystrokes)
        return "this Wayland session offers no way to send the copy and paste keys (no virtual keyboard, no desktop "
               "portal keyboard, no X display); see quillant doctor";
    if (keyboard.portals.hotkeys && grabs) keyboard.portalOrGrab.emplace(*keyboard.portals.hotkeys, *grabs, logger);
    keyboard.hotkeys = keyboard.portalOrGrab     ? static_cast<hotkey::HotKeyService*>(&*keyboard.portalOrGrab)
                       : keyboard.portals.hotkeys ? static_cast<hotkey::HotKeyService*>(keyboard.portals.hotkeys.get())
                       : grabs                    ? static_cast<hotkey::HotKeyService*>(grabs.get())
                                                  : &keyboard.triggerOnly;
    // The fallback grab's keys may still be down when the chord goes through the portal.
    if (keyboard.portalOrGrab && keyboard.portals.keyboard && x11Poster)
        keyboard.portals.keyboard->setHeldProbe(
            [hotkeys = keyboard.portals.hotkeys.get(), x11 = x11Poster.get()] { return hotkeys->held() || x11->keysHeld(); });
    keyboard.facts.wayland = claimed.waylandSession;
    keyboard.facts.desktop = std::getenv("XDG_CURRENT_DESKTOP") ? std::getenv("XDG_CURRENT_DESKTOP") : "";
    keyboard.facts.swayIpc = devices.focus && dynamic_cast<linux_platform::SwayFocusInspector*>(devices.focus.get());
    {
        std::error_code error;
        const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
        const char* path = std::getenv("PATH");
        if (!error) keyboard.facts.triggerCommand = linux_platform::triggerCommandFor(self, path ? path : "");
    }
    if (!keyboard.portals.hotkeys && !grabs)
        CategoryLogger(logger, std::string(kLogSubsystem), "session")
            .info("no global hotkey on this session: " + linux_platform::triggerBindingAdvice(keyboard.facts));
    if (waylandPoster && !keyboard.portalPoster)
        keyboard.accessibility = std::make_unique<VirtualKeyboardGate>(*waylandPoster, logger);
    else
        keyboard.accessibility = std::make_unique<linux_platform::XTestAccessibilityGate>(
            logger, claimed.display, claimed.wayland ? claimed.wayland : "");
    return std::nullopt;
}

// Whether a press of the hotkey reaches us on this session: the key grab
// taken, the portal's shortcut bound (to the trigger the desktop chose), or a
// shortcut of the desktop's own running quillant trigger, which we know of
// only once it has been used.
app::HotkeyArming hotkeyArming(const Keyboard& keyboard, const SessionDevices& devices,
                               const ReportingHotKeyService& grabs, bool registered, const std::string& display) {
    using Portal = linux_platform::GlobalShortcutsHotKeyService;
    // The portal gave no trigger, so the key grab on XWayland stands in: armed, for X11 windows.
    if (keyboard.portalOrGrab && keyboard.portalOrGrab->grabbing())
        return {true, display + " (X11 windows only)", {}, {}};
    if (const auto& portal = keyboard.portals.hotkeys) {
        switch (portal->state()) {
        case Portal::State::bound: return {true, portal->triggerDescription(), {}, {}};
        case Portal::State::idle:
        case Portal::State::binding:
            return {false, display, "the desktop has not bound it yet", "answer the desktop's shortcut dialog"};
        case Portal::State::refused:
            return {false, display, "the desktop's shortcut was refused",
                    "allow it in the desktop's shortcut settings, then restart quillant"};
        case Portal::State::failed:
        case Portal::State::closed:
            return {false, display, "the desktop's shortcut portal failed", "restart quillant; see quillant doctor"};
        }
    }
    if (devices.hotKeyService) {
        if (registered) return {true, display, {}, {}};
        return {false, display, grabs.lastRefusal().value_or("another program holds it"), "choose another combination"};
    }
    if (keyboard.triggerHeard) return {true, display, {}, {}};
    std::string advice = devices.hotkeyPlan;
    if (const auto colon = advice.find(": "); advice.rfind("none of its own", 0) == 0 && colon != std::string::npos)
        advice.erase(0, colon + 2);
    return {false, display, "this session has no global hotkey", advice};
}

// What the start-up check and each fix freed goes back to the system as the
// agent turns idle: freed chunks between live ones would otherwise stay in its
// footprint until the next fix. It runs in the turn that ends the fix (or
// settles the key's status), so it adds no wake-up of its own.
class IdleTrim {
public:
    IdleTrim(Executor& executor, AppCoordinator& coordinator) : executor_(executor) {
        status_ = coordinator.backendStatus.onDidSet([this](const app::BackendStatus&) { trimSoon(); });
        state_ = coordinator.menuBarState.onDidSet([this](const app::MenuBarState& state) {
            if (state == app::MenuBarState::idle) trimSoon();
        });
    }
    IdleTrim(const IdleTrim&) = delete;
    IdleTrim& operator=(const IdleTrim&) = delete;

private:
    void trimSoon() {
        if (*pending_) return;
        *pending_ = true;
        executor_.post([pending = pending_] {
            *pending = false;
            malloc_trim(0);
        });
    }
    Executor& executor_;
    std::shared_ptr<bool> pending_ = std::make_shared<bool>(false);
    Subscription status_;
    Subscription state_;
};

// The portable core and what it is handed: the clipboard broker, the stored
// key and settings, the armed hotkey, the HTTP session, the updater's hands.
struct Core {
    Core(Keyboard& keyboard, SessionDevices& devices, const Claimed& claimed, cli::ProgramContext& context,
         Executor& executor, Logger& logger)
        : synth(*keyboard.keystrokes),
          // The same names and markers on Wayland: its programs use the X11 ones.
          broker(devices.pasteboard(), synth, clipboard::PasteboardProfile::linuxX11()),
          // The local corrector's key is quillant's own, made before the coordinator reads it.
          local(cli::localCorrector(context, logger)),
          tokens(local ? credentials::TokenStore(*context.home, linux_platform::kLocalKeyFileName)
                       : credentials::TokenStore(*context.home)),
          settings(claimed.configDirectory, logger),
          preferences(settings, hotkey::ShortcutStyle::linuxWords),
          reportingHotKeys(*keyboard.hotkeys, logger, context.err),
          hotKeys(std::make_unique<hotkey::HotKeysController>(reportingHotKeys)),
          session(cli::serviceSession(executor, std::make_shared<linux_platform::CurlHttpSession>(executor), context,
                                      local)),
          update([] { QApplication::quit(); }) {
        std::function<void()> fixStarting;
        if (local && !local->key)
            CategoryLogger(logger, std::string(kLogSubsystem), "corrector")
                .error("the local corrector's key cannot be made: " + local->error);
        if (local && local->starter)
            fixStarting = [&executor, starter = local->starter] {
                spawn(executor, [starter]() -> Task<void> { co_await starter->ensureRunning(); });
            };
        coordinator = std::make_unique<AppCoordinator>(CoordinatorServices{
            executor, logger, *keyboard.accessibility, broker, synth, tokens, preferences, *hotKeys, session,
            context.serviceURL, workRunner, update, build::kVersion, devices.focus.get(), &settings,
            build::kUpdatePublicKey, std::move(fixStarting),
            [k = &keyboard, d = &devices, r = &reportingHotKeys](bool registered, const std::string& display) {
                return hotkeyArming(*k, *d, *r, registered, display);
            }});
        // The fallback owns the portal's change callback while it exists.
        if (keyboard.portalOrGrab)
            keyboard.portalOrGrab->setOnChange([c = coordinator.get()] { c->refreshHotkeyArming(); });
        else if (auto& portal = keyboard.portals.hotkeys)
            portal->setOnChange([c = coordinator.get()] { c->refreshHotkeyArming(); });
        idleTrim.emplace(executor, *coordinator);
    }

    clipboard::KeyEventSynth synth;
    clipboard::PasteboardBroker broker;
    std::optional<cli::LocalCorrector> local;
    credentials::TokenStore tokens;
    linux_platform::SettingsFileStore settings;
    hotkey::Preferences preferences;
    ReportingHotKeyService reportingHotKeys;
    std::unique_ptr<hotkey::HotKeysController> hotKeys;
    ThreadWorkRunner workRunner{1};
    std::shared_ptr<backend::HttpSession> session;
    linux_platform::PosixUpdateEnvironment update;
    std::unique_ptr<AppCoordinator> coordinator;
    std::optional<IdleTrim> idleTrim;
};

// Where the hotkey comes from, and on Wayland where to bind `quillant
// trigger` when that is not everywhere: what the help page (and the panel's
// hotkey row) tells the user. It changes as the shortcut portal answers.
std::string hotkeySource(const Keyboard& keyboard, const SessionDevices& devices, const std::string& combo) {
    if (!keyboard.facts.wayland) return combo + ", grabbed on the X display";
    const std::string advice = linux_platform::triggerBindingAdvice(keyboard.facts);
    const std::string grabbed = "an X11 key grab through XWayland (" + combo + "), heard in X11 windows only";
    if (keyboard.portalOrGrab && keyboard.portalOrGrab->grabbing())
        return grabbed + ", as the desktop's shortcut portal gives no trigger; for the others, " + advice;
    if (keyboard.portals.hotkeys) {
        const std::string& trigger = keyboard.portals.hotkeys->triggerDescription();
        return "the desktop's shortcut portal" + (trigger.empty() ? std::string() : " (" + trigger + ")");
    }
    if (!devices.hotKeyService) return "quillant trigger, bound to a shortcut: " + advice;
    return grabbed + "; for the others, " + advice;
}

// What the Linux help page says about this session: on Wayland, which way
// each concern takes; X11 goes without saying.
ui::SessionFindings findingsFor(const Claimed& claimed, const SessionDevices& devices, const Keyboard& keyboard,
                                Core& core) {
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    ui::SessionFindings findings{claimed.display, claimed.wayland ? claimed.wayland : "",
                                 sessionType ? sessionType : "", keyboard.accessibility->isProcessTrusted(false),
                                 core.coordinator->hotkeyArming->shown, core.coordinator->hotkeyArming->armed};
    if (!claimed.waylandSession) return findings;
    findings.hotkeyVia = hotkeySource(keyboard, devices, core.preferences.hotkeyDisplay());
    findings.keystrokesVia = keyboard.portalPoster
                                 ? (keyboard.portals.keyboard->keepsPermission()
                                        ? "the desktop portal's keyboard (remote desktop; the desktop asks once)"
                                        : "the desktop portal's keyboard (remote desktop; the desktop asks at each start "
                                          "of quillant, as it keeps no permission)")
                             : devices.waylandPoster ? "the compositor's virtual keyboard"
                                                     : "XTest through XWayland, to X11 windows only";
    findings.clipboardVia = devices.waylandClipboard
                                ? "the compositor's data-control clipboard (" + devices.waylandClipboard->protocol() + ")"
                                : "the X11 clipboard through XWayland";
    return findings;
}

// The face: the glyph in the tray, and the panel, made the first time it
// opens (until then its widgets, fonts and font configuration cost the idle
// agent nothing). A click on the glyph opens or closes it; a later start opens it.
struct Face {
    Face(const Claimed& claimed, const SessionDevices& devices, const Keyboard& keyboard, Core& core,
         linux_platform::QtExecutor& executor, Logger& logger)
        : agentLog(logger, std::string(kLogSubsystem), "agent") {
        openPanel = [this, c = &claimed, d = &devices, k = &keyboard, co = &core, e = &executor](QRect iconGeometry,
                                                                                                QPoint pointer) {
            if (!panel) panel = makePanel(*c, *d, *k, *co, *e);
            if (clicks) clicks->listen(true);
            panel->popUpAt(iconGeometry, pointer);
        };
        tray = std::make_unique<ui::TrayIcon>(executor, *core.coordinator, logger);
        // The icon toggles the panel; a later start only ever opens it.
        QObject::connect(tray.get(), &ui::TrayIcon::activated, tray.get(), [this](QRect iconGeometry, QPoint pointer) {
            if (!panel) return openPanel(iconGeometry, pointer);
            panel->iconActivated(iconGeometry, pointer);
            if (clicks) clicks->listen(panel->isVisible());
        });
        // Where no tray shows the glyph, a fix that did not happen must still be told.
        notifier = std::make_unique<ui::DesktopNotifier>(QDBusConnection::sessionBus(), core.coordinator->lastOutcome,
                                                         [this] { return tray && tray->isShownInTray(); });
    }

    std::unique_ptr<ui::MenuBarView> makePanel(const Claimed& claimed, const SessionDevices& devices,
                                               const Keyboard& keyboard, Core& core,
                                               linux_platform::QtExecutor& executor) {
        auto helpPage = [c = &claimed, d = &devices, k = &keyboard, co = &core]() -> std::optional<QUrl> {
            auto page = ui::writeAccessibilityHelp(c->runtimeFolder, findingsFor(*c, *d, *k, *co));
            if (!page) return std::nullopt;
            return QUrl::fromLocalFile(QString::fromStdString(page->string()));
        };
        ui::CorrectionsServices corrections{core.settings, claimed.configDirectory, app::installedDictionaries(), {}, {}};
        ui::useServiceProgram(corrections, cli::serviceProgram());
        ui::MenuBarViewServices services{keyDownMonitor,
                                         executor,
                                         [](const QUrl& url) { return QDesktopServices::openUrl(url); },
                                         [] { QApplication::quit(); },
                                         std::string(build::kVersion),
                                         build::kFeedbackEmail,
                                         std::move(helpPage),
                                         std::move(corrections)};
        services.localCorrector = core.local.has_value();
        services.clicksWatched = clicks != nullptr;
        return std::make_unique<ui::MenuBarView>(*core.coordinator, core.preferences, std::move(services));
    }

    // What a later start or the command line asks of the running agent.
    std::string answer(const std::string& command, const std::string& argument, Core& core, Keyboard& keyboard) {
        if (command == "trigger" && !keyboard.triggerHeard) {
            keyboard.triggerHeard = true;
            core.coordinator->refreshHotkeyArming();
        }
        return answerRequest(command, argument, *core.coordinator, openPanel, agentLog, core.local.has_value());
    }

    linux_platform::QtKeyDownMonitor keyDownMonitor;
    CategoryLogger agentLog;
    std::unique_ptr<ui::MenuBarView> panel;
    std::function<void(QRect, QPoint)> openPanel;
    std::unique_ptr<ui::TrayIcon> tray;
    std::unique_ptr<ui::DesktopNotifier> notifier;
    // Clicks anywhere on the X display, so that the panel needs no grab.
    std::unique_ptr<linux_platform::X11ClickWatcher> clicks;
};

// Quitting, in order: the face, then the coordinator, which gives the hotkey
// back and first puts the user's content back if a fix was under way; what we
// then hold on the clipboard goes to a clipboard manager, or on Wayland to a
// keeper of ours that serves it on.
void shutDown(Face& face, Watches& watches, Claimed& claimed, Core& core, SessionDevices& devices, Logger& logger) {
    if (face.clicks) watches.remove(face.clicks->fd());
    face.notifier.reset();
    face.tray.reset();
    watches.remove(claimed.instance->fd());
    face.panel.reset();
    claimed.instance.reset();
    core.coordinator.reset();
    core.hotKeys.reset();
    if (devices.x11Clipboard && devices.x11Clipboard->ownsClipboard()) devices.x11Clipboard->handOverToClipboardManager();
    auto& wl = devices.waylandClipboard;
    if (!wl || !wl->ownsClipboard()) return;
    const auto entries = wl->ownedEntries();
    if (entries.empty()) return;
    CategoryLogger sessionLog(logger, std::string(kLogSubsystem), "session");
    std::string error;
    if (linux_platform::handOverToClipboardKeeper("/proc/self/exe", entries, std::chrono::seconds(3), error))
        sessionLog.info("handed the clipboard to quillant's clipboard keeper");
    else
        sessionLog.error("the clipboard empties as quillant quits: " + error);
}

}  // namespace

int runDesktop(cli::ProgramContext& context, int argc, char** argv) {
    int exitCode = cli::kExitOK;
    auto claimed = claimTheSession(context, exitCode);
    if (!claimed) return exitCode;
    const QuitSignals quit;
    const std::unique_ptr<Logger> logger = makeLogger();

    SessionDevices devices;
    if (auto error = openSessionDevices(claimed->display, claimed->wayland, *logger, devices)) {
        std::fprintf(context.err, "quillant: %s\n", error->c_str());
        return cli::kExitFailure;
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    linux_platform::QtExecutor executor;
    Watches watches(executor);
    watchTheSession(watches, devices, quit);

    Keyboard keyboard;
    if (auto error = chooseTheKeyboard(keyboard, devices, *claimed, executor, *logger)) {
        std::fprintf(context.err, "quillant: %s\n", error->c_str());
        return cli::kExitFailure;
    }
    Core core(keyboard, devices, *claimed, context, executor, *logger);
    Face face(*claimed, devices, keyboard, core, executor, *logger);
    if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
        try {
            face.clicks = std::make_unique<linux_platform::X11ClickWatcher>();
            face.clicks->onPress = [&face](int x, int y) {
                if (face.panel) face.panel->pointerPressedAt(QPoint(x, y));
                // However the panel closed, the clicks after it are not ours to hear.
                if (!face.panel || !face.panel->isVisible()) face.clicks->listen(false);
            };
            watches.add(face.clicks->fd(), [&face] { face.clicks->processPendingEvents(); });
        } catch (const std::exception& e) {
            // The panel is then a popup: a click elsewhere closes it but goes nowhere else.
            CategoryLogger(*logger, std::string(kLogSubsystem), "agent").info(std::string("clicks elsewhere: ") + e.what());
        }
    }
    auto* instance = claimed->instance.get();
    watches.add(instance->fd(), [&] {
        instance->processPending(
            [&](const std::string& command, const std::string& argument) {
                return face.answer(command, argument, core, keyboard);
            });
    });

    const int status = application.exec();
    shutDown(face, watches, *claimed, core, devices, *logger);
    return status;
}

}  // namespace quillant::desktop
