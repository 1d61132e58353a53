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
#include "platform/linux/SettingsFileStore.h"
#include "platform/linux/qt/QtExecutor.h"
#include "platform/linux/qt/QtKeyDownMonitor.h"
#include "platform/linux/portal/PortalDesktop.h"
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

// What a later start or the command line asks of the running agent.
std::string answerRequest(const std::string& command, const std::string& argument, AppCoordinator& coordinator,
                          ui::MenuBarView& panel, CategoryLogger& log) {
    if (command == "show-panel") {
        panel.popUpAt({}, QCursor::pos());
        log.info("panel opened for another start of quillant");
        return "ok";
    }
    if (command == "key-set") return coordinator.saveBackendToken(argument) ? "ok" : "error Failed to save key";
    if (command == "key-clear") {
        coordinator.clearBackendToken();
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
                                                 const std::filesystem::path& configDirectory, const char* wayland) {
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    linux_platform::PortalSessionFacts facts;
    facts.waylandSession = linux_platform::isWaylandSession(sessionType ? sessionType : "", wayland ? wayland : "");
    if (!facts.waylandSession) return {};
    // The wlroots virtual keyboard, where the compositor has one, goes before
    // the portal's: set from that keyboard's own probe.
    facts.virtualKeyboard = false;
    facts.configDirectory = configDirectory;
    return linux_platform::selectPortalServices(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("quillant-portal")), executor, logger,
        facts);
}

}  // namespace

int runDesktop(cli::ProgramContext& context, int argc, char** argv) {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!display || !*display) {
        std::fprintf(context.err, "quillant: no X11 display to work on (DISPLAY is not set)%s\n",
                     wayland && *wayland ? "; on Wayland, quillant needs XWayland" : "; run it inside your desktop session");
        return cli::kExitFailure;
    }
    if (!context.home) {
        std::fputs("quillant: cannot find your home directory (set HOME)\n", context.err);
        return cli::kExitFailure;
    }
    // One agent per session: a later start opens the running one's panel.
    const auto runtimeFolder = linux_platform::privateRuntimeFolder(context.xdgRuntimeDir);
    if (!runtimeFolder.path) {
        std::fprintf(context.err, "quillant: %s\n", runtimeFolder.error.c_str());
        return cli::kExitFailure;
    }
    const std::string instanceName = linux_platform::instanceName(display);
    std::string claimError;
    auto instance = linux_platform::InstanceServer::claim(*runtimeFolder.path, instanceName, claimError);
    if (!instance) {
        if (!claimError.empty()) {
            std::fprintf(context.err, "quillant: %s\n", claimError.c_str());
            return cli::kExitFailure;
        }
        std::string error;
        if (auto answer = linux_platform::sendToInstance(*runtimeFolder.path, instanceName, "show-panel", std::nullopt,
                                                         std::chrono::seconds(5), error);
            answer && *answer == "ok") {
            std::fputs("quillant is already running; its panel is open\n", context.err);
            return cli::kExitOK;
        }
        std::fprintf(context.err, "quillant is already running but does not answer: %s\n",
                     error.empty() ? "it refused the request" : error.c_str());
        return cli::kExitFailure;
    }

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
    std::unique_ptr<linux_platform::X11Clipboard> clipboard;
    std::unique_ptr<linux_platform::X11HotKeyService> hotKeyService;
    std::unique_ptr<linux_platform::XTestKeyEventPoster> poster;
    std::unique_ptr<linux_platform::X11FocusInspector> focus;
    try {
        clipboard = std::make_unique<linux_platform::X11Clipboard>(logger);
        hotKeyService = std::make_unique<linux_platform::X11HotKeyService>(logger);
        poster = std::make_unique<linux_platform::XTestKeyEventPoster>(logger);
        focus = std::make_unique<linux_platform::X11FocusInspector>();
    } catch (const std::exception& e) {
        std::fprintf(context.err, "quillant: cannot use the X11 display %s: %s\n", display, e.what());
        return cli::kExitFailure;
    }

    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    linux_platform::QtExecutor executor;
    executor.watchReadable(clipboard->fd(), [&] {
        clipboard->processPendingEvents();
        if (!clipboard->connected()) QApplication::quit();  // the X session is gone
    });
    executor.watchReadable(hotKeyService->fd(), [&] { hotKeyService->processPendingEvents(); });
    if (signalFd >= 0) {
        executor.watchReadable(signalFd, [&] {
            signalfd_siginfo info;
            while (::read(signalFd, &info, sizeof info) == sizeof info) {
            }
            QApplication::quit();
        });
    }
    poster->setGrabBreaker([service = hotKeyService.get()] { service->endActiveGrab(); });

    auto portals = portalServicesFor(executor, logger, *configDirectory, wayland);
    std::optional<linux_platform::PreferredKeyEventPoster> portalPoster;
    if (portals.keyboard) {
        if (!portals.hotkeys) portals.keyboard->setHeldProbe([x11 = poster.get()] { return x11->keysHeld(); });
        // Asked now rather than at the first fix: the dialog would take the focus from the selection.
        portals.keyboard->start();
        portalPoster.emplace(*portals.keyboard, poster.get());
    }
    clipboard::KeyEventPoster& keystrokes = portalPoster ? static_cast<clipboard::KeyEventPoster&>(*portalPoster)
                                                         : static_cast<clipboard::KeyEventPoster&>(*poster);
    hotkey::HotKeyService& globalHotKeys = portals.hotkeys ? static_cast<hotkey::HotKeyService&>(*portals.hotkeys)
                                                           : static_cast<hotkey::HotKeyService&>(*hotKeyService);

    linux_platform::XTestAccessibilityGate accessibility(logger, display, wayland ? wayland : "");
    clipboard::KeyEventSynth synth(keystrokes);
    clipboard::PasteboardBroker broker(*clipboard, synth, clipboard::PasteboardProfile::linuxX11());
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
    auto panel = std::make_unique<ui::MenuBarView>(
        *coordinator, preferences,
        ui::MenuBarViewServices{
            keyDownMonitor, executor, [](const QUrl& url) { QDesktopServices::openUrl(url); },
            [] { QApplication::quit(); }, std::string(build::kVersion), build::kFeedbackEmail,
            [&, folder = *runtimeFolder.path]() -> std::optional<QUrl> {
                const ui::SessionFindings findings{display, wayland ? wayland : "",
                                                   std::getenv("XDG_SESSION_TYPE") ? std::getenv("XDG_SESSION_TYPE") : "",
                                                   accessibility.isProcessTrusted(false), preferences.hotkeyDisplay(),
                                                   !reportingHotKeys.lastRefused() && coordinator->hotkey() &&
                                                       coordinator->hotkey()->armedCombo()};
                auto page = ui::writeAccessibilityHelp(folder, findings);
                if (!page) return std::nullopt;
                return QUrl::fromLocalFile(QString::fromStdString(page->string()));
            }});
    CategoryLogger agentLog(logger, std::string(kLogSubsystem), "agent");
    executor.watchReadable(instance->fd(), [&] {
        instance->processPending([&](const std::string& command, const std::string& argument) {
            return answerRequest(command, argument, *coordinator, *panel, agentLog);
        });
    });

    // The glyph in the tray; a click opens the panel at the icon, or at the
    // pointer where the tray does not tell where the icon is.
    auto tray = std::make_unique<ui::TrayIcon>(executor, *coordinator, logger);
    QObject::connect(tray.get(), &ui::TrayIcon::activated, panel.get(),
                     [&panel](QRect iconGeometry, QPoint pointer) { panel->popUpAt(iconGeometry, pointer); });

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
    if (clipboard->ownsClipboard()) clipboard->handOverToClipboardManager();
    if (signalFd >= 0) {
        executor.unwatch(signalFd);
        ::close(signalFd);
    }
    executor.unwatch(hotKeyService->fd());
    executor.unwatch(clipboard->fd());
    return status;
}

}  // namespace quillant::app
