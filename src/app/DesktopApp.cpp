// The desktop agent's composition root: every platform service is made here,
// once, and handed to the coordinator.
#include "app/DesktopApp.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QMenu>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/AppCoordinator.h"
#include "app/BuildConfig.h"
#include "clipboard/KeyEventSynth.h"
#include "clipboard/PasteboardBroker.h"
#include "credentials/TokenStore.h"
#include "hotkey/HotKeysController.h"
#include "hotkey/KeyCombo.h"
#include "hotkey/Preferences.h"
#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/JournalLogger.h"
#include "platform/linux/PosixProcess.h"
#include "platform/linux/SettingsFileStore.h"
#include "platform/linux/qt/QtExecutor.h"
#include "platform/linux/x11/X11Clipboard.h"
#include "platform/linux/x11/X11HotKeyService.h"
#include "platform/linux/x11/XTestAccessibilityGate.h"
#include "platform/linux/x11/XTestKeyEventPoster.h"
#include "runtime/ThreadWorkRunner.h"
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
            const std::string combo = hotkey::KeyCombo(keyCode, modifiers).description();
            const std::string line = "hotkey " + combo + " could not be armed: another program holds it (status " +
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

private:
    hotkey::HotKeyService& inner_;
    CategoryLogger log_;
    std::FILE* err_;
};

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
    auto configDirectory = linux_platform::defaultConfigDirectory();
    if (!configDirectory) {
        std::fputs("quillant: cannot find a configuration directory (set HOME or XDG_CONFIG_HOME)\n", context.err);
        return cli::kExitFailure;
    }

    // SIGINT and SIGTERM are taken through a signalfd on the event loop, so the
    // shutdown below always runs; blocked before any thread starts.
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    sigaddset(&quitSignals, SIGTERM);
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
    try {
        clipboard = std::make_unique<linux_platform::X11Clipboard>(logger);
        hotKeyService = std::make_unique<linux_platform::X11HotKeyService>(logger);
        poster = std::make_unique<linux_platform::XTestKeyEventPoster>(logger);
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

    linux_platform::XTestAccessibilityGate accessibility(logger, display, wayland ? wayland : "");
    clipboard::KeyEventSynth synth(*poster);
    clipboard::PasteboardBroker broker(*clipboard, synth, clipboard::PasteboardProfile::linuxX11());
    credentials::TokenStore tokens(*context.home);
    linux_platform::SettingsFileStore settings(*configDirectory, logger);
    hotkey::Preferences preferences(settings);
    ReportingHotKeyService reportingHotKeys(*hotKeyService, logger, context.err);
    auto hotKeys = std::make_unique<hotkey::HotKeysController>(reportingHotKeys);
    ThreadWorkRunner workRunner(1);
    auto session = std::make_shared<linux_platform::CurlHttpSession>(executor);
    linux_platform::PosixUpdateEnvironment update([] { QApplication::quit(); });

    auto coordinator = std::make_unique<AppCoordinator>(CoordinatorServices{
        executor, logger, accessibility, broker, synth, tokens, preferences, *hotKeys, session, context.serviceURL,
        workRunner, update, build::kVersion});

    auto tray = std::make_unique<ui::TrayIcon>(executor, *coordinator, logger);
    // A stand-in for the panel: a click offers Quit.
    QMenu trayMenu;
    trayMenu.addAction(QStringLiteral("Quit quillant"), [] { QApplication::quit(); });
    QObject::connect(tray.get(), &ui::TrayIcon::activated, &trayMenu, [&trayMenu](QRect icon, QPoint pointer) {
        trayMenu.popup(icon.isEmpty() ? pointer : icon.bottomLeft());
    });

    const int status = application.exec();

    // The hotkey is given back with the coordinator; what we hold on the
    // clipboard (the user's own content, restored) goes to a clipboard manager.
    tray.reset();
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
