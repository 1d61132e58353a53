#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QDBusConnection>

#include "platform/linux/portal/GlobalShortcutsHotKeyService.h"
#include "platform/linux/portal/PortalApplicationId.h"
#include "platform/linux/portal/PortalRequest.h"
#include "platform/linux/portal/RemoteDesktopKeyEventPoster.h"

namespace quillant::linux_platform {

// Whether this is a Wayland session (XDG_SESSION_TYPE, else WAYLAND_DISPLAY).
bool isWaylandSession(std::string_view sessionType, std::string_view waylandDisplay);

struct PortalSessionFacts {
    bool waylandSession = false;
    // The compositor offers the wlroots virtual keyboard, which is used instead.
    bool virtualKeyboard = false;
    std::filesystem::path configDirectory;  // the remote-desktop permission is kept here
    // The compositor's keymap (XKB text), when a Wayland client has read it.
    std::optional<std::string> compositorKeymap;
};

// What the desktop portal gives this session; each member is empty when it
// is not used. The connection is our own (not Qt's shared session bus), so
// that registering our application id is its first portal call.
struct PortalServices {
    std::unique_ptr<PortalConnection> connection;
    ApplicationIdOutcome applicationId = ApplicationIdOutcome::noRegistry;
    std::unique_ptr<GlobalShortcutsHotKeyService> hotkeys;
    std::unique_ptr<RemoteDesktopKeyEventPoster> keyboard;  // not started yet
};

// The file the remote-desktop permission (restore token) is kept in.
std::filesystem::path remoteDesktopTokenFile(const std::filesystem::path& configDirectory);

// On a Wayland session: the shortcut portal for the hotkey where it is
// offered, and the remote-desktop portal's keyboard where it is offered and
// the compositor has no virtual keyboard. Nothing on X11.
PortalServices selectPortalServices(QDBusConnection bus, Executor& executor, Logger& logger,
                                    const PortalSessionFacts& facts);

}  // namespace quillant::linux_platform
