#include "ui/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace quillant::ui {

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, const Published<std::optional<app::FixOutcome>>& outcomes,
                                 std::function<bool()> glyphShown, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), glyphShown_(std::move(glyphShown)) {
    subscription_ = outcomes.onDidSet([this](const std::optional<app::FixOutcome>& outcome) {
        if (!outcome || !outcome->failed) return;
        if (glyphShown_ && glyphShown_()) return;
        notify(QString::fromStdString(outcome->text));
    });
}

void DesktopNotifier::notify(const QString& body) {
    if (!bus_.isConnected()) return;
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                               QStringLiteral("/org/freedesktop/Notifications"),
                                               QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // The server may take its time; without a server the call fails and nothing is said.
    call << QStringLiteral("quillant") << static_cast<uint>(lastId_) << QStringLiteral("dialog-warning")
         << QStringLiteral("quillant") << body << QStringList() << QVariantMap{{"urgency", QVariant::fromValue<uchar>(1)}}
         << kExpiresMs;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<uint> reply = *w;
        if (!reply.isError()) lastId_ = reply.value();
    });
}

}  // namespace quillant::ui
