// The desktop agent's composition root: every platform service is made here,
// once, and handed to the coordinator.
#include "app/DesktopApp.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDesktopServices>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/AppCoordinator.h"
#include "app/BuildConfig.h"
#include "clipboard/KeyEventSynth.h"
#include "clipboard/PasteboardBroker.h"
#include "credentials/TokenStore.h"
#include "hotkey/HotKeysController.h"
#include "hotkey/KeyCombo.h"
#include "hotkey/Preferences.h"
#include "hotkey/ShortcutStyle.h"
#include "platform/linux/InstanceChannel.h"
#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/JournalLogger.h"
#include "platform/linux/PosixProcess.h"
#include "platform/linux/SessionPlan.h"
#include "platform/linux/SettingsFileStore.h"
#include "platform/linux/qt/QtExecutor.h"
#include "platform/linux/qt/QtKeyDownMonitor.h"
#include "platform/linux/portal/PortalDesktop.h"
#include "platform/linux/wayland/ClipboardKeeper.h"
#include "platform/linux/wayland/SeatKeymap.h"
#include "platform/linux/wayland/SwayFocusInspector.h"
#include "platform/linux/wayland/WaylandClipboard.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "platform/linux/wayland/WaylandKeyEventPoster.h"
#include "platform/linux/x11/X11Clipboard.h"
#include "platform/linux/x11/X11FocusInspector.h"
#include "platform/linux/x11/X11HotKeyService.h"
#include "platform/linux/x11/XTestAccessibilityGate.h"
#include "platform/linux/x11/XTestKeyEventPoster.h"
#include "runtime/ThreadWorkRunner.h"
#include "ui/AccessibilityHelp.h"
#include "ui/MenuBarView.h"
#include "ui/TrayIcon.h"

namespace quillant::app {

namespace {

// Says so when another program already holds the combination: the hotkey
// would otherwise silently never fire.
class ReportingHotKeyService final : public hotkey::HotKeyService {
public:
    ReportingHotKeyService(hotkey::HotKeyService& inner, Logger& logger, std::FILE* err)
        : inner_(inner), log_(logger, std::string(kLogSubsystem), "hotkeys"), err_(err) {}

    hotkey::HotKeyRegistration registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                   hotkey::EventHotKeyID id) override {
        auto result = inner_.registerEventHotKey(keyCode, modifiers, id);
        if (result.status != hotkey::noErr || !result.handle) {
            const std::string combo =
                hotkey::describeCombo(hotkey::KeyCombo(keyCode, modifiers), hotkey::ShortcutStyle::linuxWords, "?");
            const std::string line = "hotkey " + combo + " could not be armed: another program holds it (status " +
                                     std::to_string(result.status) + ")";
            log_.error(line);
            std::fprintf(err_, "quillant: %s\n", line.c_str());
            std::fflush(err_);
        }
        refused_ = result.status != hotkey::noErr || !result.handle;
        return result;
    }
    void unregisterEventHotKey(hotkey::EventHotKeyRef handle) override { inner_.unregisterEventHotKey(handle); }
    std::optional<hotkey::EventHandlerRef> installEventHandler(EventCallback callback) override {
        return inner_.installEventHandler(std::move(callback));
    }
    bool lastRefused() const { return refused_; }

private:
    hotkey::HotKeyService& inner_;
    CategoryLogger log_;
    std::FILE* err_;
    bool refused_ = false;
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
                          const std::function<void(QRect, QPoint)>& openPanel, CategoryLogger& log) {
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

    clipboard::Pasteboard& pasteboard() {
        return waylandClipboard ? static_cast<clipboard::Pasteboard&>(*waylandClipboard) : *x11Clipboard;
    }
};

// On Wayland each concern takes the compositor's protocol where it is
// offered, and the X11 way (through XWayland) where it is not; quillant
// doctor reports the same plan. Answers why quillant cannot work here, if so.
std::optional<std::string> openSessionDevices(const std::string& display, const char* wayland, Logger& logger,
                                              SessionDevices& devices) {
    CategoryLogger sessionLog(logger, std::string(kLogSubsystem), "session");
    linux_platform::SessionFacts facts;
    facts.x11 = !display.empty();
    facts.xtest = facts.x11;  // the accessibility gate tells the user when it is missing
    if (const char* sway = std::getenv("SWAYSOCK"); sway && *sway)
        facts.swayIpc = linux_platform::SwayFocusInspector::reachable(sway);
    const bool waylandSession = wayland && *wayland;
    if (waylandSession) {
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
    }
    const linux_platform::SessionPlan plan = linux_platform::planSession(facts);
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

}  // namespace

int runDesktop(cli::ProgramContext& context, int argc, char** argv) {
    const char* displayVariable = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const std::string display = displayVariable ? displayVariable : "";
    const bool waylandSession = wayland && *wayland;
    if (display.empty() && !waylandSession) {
        std::fputs("quillant: no display to work on (neither DISPLAY nor WAYLAND_DISPLAY is set); run it inside your "
                   "desktop session\n",
                   context.err);
        return cli::kExitFailure;
    }
    if (!context.home) {
        std::fputs("quillant: cannot find your home directory (set HOME)\n", context.err);
        return cli::kExitFailure;
    }
    const auto runtimeFolder = linux_platform::privateRuntimeFolder(context.xdgRuntimeDir);
    if (!runtimeFolder.path) {
        std::fprintf(context.err, "quillant: %s\n", runtimeFolder.error.c_str());
        return cli::kExitFailure;
    }
    int exitCode = cli::kExitOK;
    auto instance = claimInstance(context, *runtimeFolder.path, linux_platform::sessionInstanceName(
                                                                    display, wayland ? wayland : ""), exitCode);
    if (!instance) return exitCode;

    auto configDirectory = linux_platform::defaultConfigDirectory();
    if (!configDirectory) {
        std::fputs("quillant: cannot find a configuration directory (set HOME or XDG_CONFIG_HOME)\n", context.err);
        return cli::kExitFailure;
    }

    // SIGINT, SIGTERM and SIGHUP (the session or the terminal going away) are
    // taken through a signalfd on the event loop, so the shutdown below always
    // runs; blocked before any thread starts.
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    sigaddset(&quitSignals, SIGTERM);
    sigaddset(&quitSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
    const int signalFd = signalfd(-1, &quitSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    // QUILLANT_LOG=stderr keeps the log on the terminal (it goes to the journal otherwise).
    const char* logChoice = std::getenv("QUILLANT_LOG");
    std::unique_ptr<Logger> loggerOwner;
    if (logChoice && std::string_view(logChoice) == "stderr")
        loggerOwner = std::make_unique<StderrLogger>();
    else
        loggerOwner = std::make_unique<linux_platform::JournalLogger>();
    Logger& logger = *loggerOwner;
    CategoryLogger sessionLog(logger, std::string(kLogSubsystem), "session");

    SessionDevices devices;
    if (auto error = openSessionDevices(display, wayland, logger, devices)) {
        std::fprintf(context.err, "quillant: %s\n", error->c_str());
        return cli::kExitFailure;
    }
    auto& waylandClipboard = devices.waylandClipboard;
    auto& waylandPoster = devices.waylandPoster;
    auto& x11Clipboard = devices.x11Clipboard;
    auto& hotKeyService = devices.hotKeyService;
    auto& x11Poster = devices.x11Poster;
    auto& focus = devices.focus;
    clipboard::Pasteboard& pasteboard = devices.pasteboard();
    std::optional<GrabEndingKeyEventPoster> grabEnding;
    if (waylandPoster && hotKeyService) grabEnding.emplace(*waylandPoster, *hotKeyService);

    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    linux_platform::QtExecutor executor;
    std::vector<int> watched;
    auto watch = [&](int fd, std::function<void()> handler) {
        executor.watchReadable(fd, std::move(handler));
        watched.push_back(fd);
    };
    if (x11Clipboard)
        watch(x11Clipboard->fd(), [&] {
            x11Clipboard->processPendingEvents();
            if (!x11Clipboard->connected()) QApplication::quit();  // the X session is gone
        });
    if (waylandClipboard)
        watch(waylandClipboard->fd(), [&] {
            waylandClipboard->processPendingEvents();
            if (!waylandClipboard->connected()) QApplication::quit();  // the compositor is gone
        });
    if (waylandPoster) watch(waylandPoster->fd(), [&] { waylandPoster->processPendingEvents(); });
    if (hotKeyService) watch(hotKeyService->fd(), [&] { hotKeyService->processPendingEvents(); });
    if (signalFd >= 0) {
        executor.watchReadable(signalFd, [&] {
            signalfd_siginfo info;
            while (::read(signalFd, &info, sizeof info) == sizeof info) {
            }
            QApplication::quit();
        });
    }
    if (x11Poster && hotKeyService)
        x11Poster->setGrabBreaker([service = hotKeyService.get()] { service->endActiveGrab(); });

    // The desktop portal (GNOME, KDE) for what the compositor does not offer itself.
    auto portals = portalServicesFor(executor, logger, *configDirectory, wayland, waylandPoster != nullptr);
    std::optional<linux_platform::PreferredKeyEventPoster> portalPoster;
    if (portals.keyboard) {
        if (!portals.hotkeys && x11Poster)
            portals.keyboard->setHeldProbe([x11 = x11Poster.get()] { return x11->keysHeld(); });
        // Asked now rather than at the first fix: the dialog would take the focus from the selection.
        portals.keyboard->start();
        portalPoster.emplace(*portals.keyboard, x11Poster.get());
    }
    clipboard::KeyEventPoster* keystrokesChosen = nullptr;
    if (portalPoster)
        keystrokesChosen = &*portalPoster;
    else if (grabEnding)
        keystrokesChosen = &*grabEnding;
    else if (waylandPoster)
        keystrokesChosen = waylandPoster.get();
    else
        keystrokesChosen = x11Poster.get();
    if (!keystrokesChosen) {
        std::fputs("quillant: this Wayland session offers no way to send the copy and paste keys (no virtual "
                   "keyboard, no desktop portal keyboard, no X display); see quillant doctor\n",
                   context.err);
        return cli::kExitFailure;
    }
    clipboard::KeyEventPoster& keystrokes = *keystrokesChosen;
    TriggerOnlyHotKeyService triggerOnly;
    hotkey::HotKeyService& globalHotKeys = portals.hotkeys  ? static_cast<hotkey::HotKeyService&>(*portals.hotkeys)
                                           : hotKeyService ? static_cast<hotkey::HotKeyService&>(*hotKeyService)
                                                           : static_cast<hotkey::HotKeyService&>(triggerOnly);
    if (!portals.hotkeys && !hotKeyService)
        sessionLog.info("no global hotkey on this session: bind quillant trigger to a shortcut in your desktop's "
                        "settings (sway: bindsym Mod1+Shift+g exec quillant trigger)");

    std::unique_ptr<app::AccessibilityGate> accessibilityOwner;
    if (waylandPoster && !portalPoster)
        accessibilityOwner = std::make_unique<VirtualKeyboardGate>(*waylandPoster, logger);
    else
        accessibilityOwner = std::make_unique<linux_platform::XTestAccessibilityGate>(logger, display,
                                                                                    wayland ? wayland : "");
    app::AccessibilityGate& accessibility = *accessibilityOwner;
    clipboard::KeyEventSynth synth(keystrokes);
    // The same names and markers on Wayland: its programs use the X11 ones.
    clipboard::PasteboardBroker broker(pasteboard, synth, clipboard::PasteboardProfile::linuxX11());
    credentials::TokenStore tokens(*context.home);
    linux_platform::SettingsFileStore settings(*configDirectory, logger);
    hotkey::Preferences preferences(settings, hotkey::ShortcutStyle::linuxWords);
    ReportingHotKeyService reportingHotKeys(globalHotKeys, logger, context.err);
    auto hotKeys = std::make_unique<hotkey::HotKeysController>(reportingHotKeys);
    ThreadWorkRunner workRunner(1);
    auto session = std::make_shared<linux_platform::CurlHttpSession>(executor);
    linux_platform::PosixUpdateEnvironment update([] { QApplication::quit(); });

    auto coordinator = std::make_unique<AppCoordinator>(CoordinatorServices{
        executor, logger, accessibility, broker, synth, tokens, preferences, *hotKeys, session, context.serviceURL,
        workRunner, update, build::kVersion, focus.get(), &settings});

    linux_platform::QtKeyDownMonitor keyDownMonitor;
    // The panel is made when it first opens: until then its widgets, fonts and
    // font configuration cost the idle agent nothing.
    std::unique_ptr<ui::MenuBarView> panel;
    auto makePanel = [&] {
        return std::make_unique<ui::MenuBarView>(
            *coordinator, preferences,
            ui::MenuBarViewServices{
                keyDownMonitor, executor, [](const QUrl& url) { QDesktopServices::openUrl(url); },
                [] { QApplication::quit(); }, std::string(build::kVersion), build::kFeedbackEmail,
                [&, folder = *runtimeFolder.path]() -> std::optional<QUrl> {
                    ui::SessionFindings findings{display, wayland ? wayland : "",
                                                 std::getenv("XDG_SESSION_TYPE") ? std::getenv("XDG_SESSION_TYPE") : "",
                                                 accessibility.isProcessTrusted(false), preferences.hotkeyDisplay(),
                                                 !reportingHotKeys.lastRefused() && coordinator->hotkey() &&
                                                     coordinator->hotkey()->armedCombo()};
                    // On Wayland, say which way each concern takes; X11 goes without saying.
                    if (waylandSession) {
                        if (portals.hotkeys) {
                            const std::string& trigger = portals.hotkeys->triggerDescription();
                            findings.hotkeyVia = "the desktop's shortcut portal" +
                                                 (trigger.empty() ? std::string() : " (" + trigger + ")");
                        } else if (!hotKeyService) {
                            findings.hotkeyVia = "quillant trigger, bound to a shortcut in the desktop's settings";
                            findings.hotkeyArmed = true;
                        } else {
                            findings.hotkeyVia = "an X11 key grab through XWayland (" + preferences.hotkeyDisplay() +
                                                 "), heard in X11 windows only";
                        }
                        findings.keystrokesVia = portalPoster   ? "the desktop portal's keyboard (remote desktop)"
                                                 : waylandPoster ? "the compositor's virtual keyboard"
                                                                 : "XTest through XWayland, to X11 windows only";
                        findings.clipboardVia = waylandClipboard ? "the compositor's data-control clipboard (" +
                                                                       waylandClipboard->protocol() + ")"
                                                                 : "the X11 clipboard through XWayland";
                    }
                    auto page = ui::writeAccessibilityHelp(folder, findings);
                    if (!page) return std::nullopt;
                    return QUrl::fromLocalFile(QString::fromStdString(page->string()));
                }});
    };
    const std::function<void(QRect, QPoint)> openPanel = [&](QRect iconGeometry, QPoint pointer) {
        if (!panel) panel = makePanel();
        panel->popUpAt(iconGeometry, pointer);
    };
    CategoryLogger agentLog(logger, std::string(kLogSubsystem), "agent");
    executor.watchReadable(instance->fd(), [&] {
        instance->processPending([&](const std::string& command, const std::string& argument) {
            return answerRequest(command, argument, *coordinator, openPanel, agentLog);
        });
    });

    // The glyph in the tray; a click opens the panel at the icon, or at the
    // pointer where the tray does not tell where the icon is.
    auto tray = std::make_unique<ui::TrayIcon>(executor, *coordinator, logger);
    QObject::connect(tray.get(), &ui::TrayIcon::activated, tray.get(), openPanel);

    const int status = application.exec();

    tray.reset();
    executor.unwatch(instance->fd());
    panel.reset();
    instance.reset();

    // The hotkey is given back with the coordinator, which first puts the
    // user's content back if a fix was under way; what we hold on the
    // clipboard then goes to a clipboard manager.
    coordinator.reset();
    hotKeys.reset();
    if (x11Clipboard && x11Clipboard->ownsClipboard()) x11Clipboard->handOverToClipboardManager();
    if (waylandClipboard && waylandClipboard->ownsClipboard()) {
        // What we hold would go with us: a keeper of ours serves it on.
        const auto entries = waylandClipboard->ownedEntries();
        std::string error;
        if (!entries.empty()) {
            if (linux_platform::handOverToClipboardKeeper("/proc/self/exe", entries, std::chrono::seconds(3), error))
                sessionLog.info("handed the clipboard to quillant's clipboard keeper");
            else
                sessionLog.error("the clipboard empties as quillant quits: " + error);
        }
    }
    if (signalFd >= 0) {
        executor.unwatch(signalFd);
        ::close(signalFd);
    }
    for (int fd : watched) executor.unwatch(fd);
    return status;
}

}  // namespace quillant::app
