#include "platform/linux/portal/PortalDesktop.h"

#include <cstdlib>
#include <cstring>

namespace quillant::linux_platform {

bool isWaylandSession(std::string_view sessionType, std::string_view waylandDisplay) {
    if (!sessionType.empty()) return sessionType == "wayland";
    return !waylandDisplay.empty();
}

std::filesystem::path remoteDesktopTokenFile(const std::filesystem::path& configDirectory) {
    return configDirectory / "remote-desktop-token";
}

PortalServices selectPortalServices(QDBusConnection bus, Executor& executor, Logger& logger,
                                    const PortalSessionFacts& facts) {
    PortalServices services;
    if (!facts.waylandSession || !bus.isConnected()) return services;
    CategoryLogger log(logger, std::string(kLogSubsystem), "portal");
    services.applicationId = registerApplicationId(bus, kApplicationId, logger);
    services.connection = std::make_unique<PortalConnection>(bus, executor, logger);
    auto& portal = *services.connection;

    if (GlobalShortcutsHotKeyService::offered(portal))
        services.hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(portal, logger, "Fix the selected text");
    else
        log.info("The desktop portal offers no global shortcuts: the hotkey works only in X11 windows; "
                 "bind `quillant trigger` in the desktop's shortcut settings");
    // Plasma 5.27's portal tells only that the shortcut fired, never that it ended.
    if (const char* desktop = std::getenv("XDG_CURRENT_DESKTOP"); services.hotkeys && desktop && std::strstr(desktop, "KDE"))
        services.hotkeys->setReleasesUnannounced(true);

    if (facts.virtualKeyboard) {
        log.info("Keystrokes go through the compositor's virtual keyboard");
    } else if (RemoteDesktopKeyEventPoster::offered(portal)) {
        PortalKeyboardMap keyboard = PortalKeyboardMap::keysyms();
        if (facts.compositorKeymap)
            if (auto map = PortalKeyboardMap::fromKeymapText(*facts.compositorKeymap)) keyboard = std::move(*map);
        services.keyboard = std::make_unique<RemoteDesktopKeyEventPoster>(
            portal, logger, remoteDesktopTokenFile(facts.configDirectory), std::move(keyboard));
        if (services.hotkeys) services.keyboard->setHeldProbe([hotkeys = services.hotkeys.get()] { return hotkeys->held(); });
    } else {
        log.info("The desktop portal offers no remote-desktop keyboard: keystrokes reach only X11 windows (XWayland)");
    }
    if (!services.hotkeys && !services.keyboard) services.connection.reset();
    return services;
}

}  // namespace quillant::linux_platform
