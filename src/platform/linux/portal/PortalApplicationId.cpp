#include "platform/linux/portal/PortalApplicationId.h"

#include <QDBusMessage>
#include <QVariantMap>

#include "platform/linux/portal/PortalRequest.h"

namespace quillant::linux_platform {

ApplicationIdOutcome registerApplicationId(QDBusConnection& bus, const QString& appId, Logger& logger, int boundMs) {
    CategoryLogger log(logger, std::string(kLogSubsystem), "portal");
    auto message = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                  QStringLiteral("org.freedesktop.host.portal.Registry"),
                                                  QStringLiteral("Register"));
    message << appId << QVariantMap();
    const QDBusMessage reply = bus.call(message, QDBus::Block, boundMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        log.info("Registered with the desktop portal as " + appId.toStdString());
        return ApplicationIdOutcome::registered;
    }
    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")) {
        log.info("No desktop portal on the session bus");
        return ApplicationIdOutcome::noRegistry;
    }
    if (error == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
        error == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
        error == QLatin1String("org.freedesktop.DBus.Error.UnknownObject")) {
        log.info("The desktop portal has no application registry; it takes our id from how quillant was started "
                 "(its .desktop file, " + appId.toStdString() + ")");
        return ApplicationIdOutcome::noRegistry;
    }
    log.error("The desktop portal did not register us as " + appId.toStdString() + ": " + error.toStdString() + " " +
              reply.errorMessage().toStdString());
    return ApplicationIdOutcome::failed;
}

}  // namespace quillant::linux_platform
