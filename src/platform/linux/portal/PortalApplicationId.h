#pragma once

#include <QDBusConnection>
#include <QString>

#include "runtime/Logger.h"

namespace quillant::linux_platform {

// Our application id as packaging/com.vostel.quillant.desktop names it.
inline const QString kApplicationId = QStringLiteral("com.vostel.quillant");

enum class ApplicationIdOutcome {
    registered,  // the portal's host registry took our id
    noRegistry,  // no registry (xdg-desktop-portal before 1.19): the portal derives the id itself
    failed,      // the registry refused (e.g. this connection already made portal calls)
};

// Tells xdg-desktop-portal which application this connection is, through
// org.freedesktop.host.portal.Registry. Newer portals refuse a host program
// without an id; older ones have no registry and take the id from the
// process's systemd unit or cgroup (a desktop launch of our .desktop file
// gives "app-com.vostel.quillant-….scope"), and leave it empty otherwise.
// Must be the connection's first portal call; blocks for at most `boundMs` (this first call
// may be what starts the portal).
ApplicationIdOutcome registerApplicationId(QDBusConnection& bus, const QString& appId, Logger& logger,
                                           int boundMs = 5000);

}  // namespace quillant::linux_platform
