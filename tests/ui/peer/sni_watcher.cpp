// A StatusNotifierItem host for tests: owns org.kde.StatusNotifierWatcher on
// the session bus, reports a registered host, and shows what a panel would:
// every registered item and every icon it announces, one line each on stdout.
//   ready
//   registered SERVICE
//   icon SERVICE SEQ MONOTONIC_NS WIDTHxHEIGHT ALPHA R G B   (per size; ALPHA = mean alpha 0..1,
//                                                              R G B = mean colour of the opaque pixels)
//   tooltip SERVICE TITLE                                   (at registration and on NewToolTip)
//   unregistered SERVICE
#include <time.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>
#include <QtEndian>
#include <cstdio>

namespace {

long long monotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

void say(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit Watcher(QDBusConnection bus) : bus_(bus), owners_(QString(), bus, QDBusServiceWatcher::WatchForUnregistration) {
        connect(&owners_, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& service) {
            for (const QString& item : QStringList(items_))
                if (item.startsWith(service + "/") || item == service) {
                    items_.removeAll(item);
                    say("unregistered " + item);
                    emit StatusNotifierItemUnregistered(item);
                }
            owners_.removeWatchedService(service);
        });
    }

    QStringList items() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& serviceOrPath, const QDBusMessage& message) {
        // An item gives its bus name, or only an object path on the caller's connection.
        QString service = serviceOrPath.startsWith('/') ? message.service() : serviceOrPath;
        QString path = serviceOrPath.startsWith('/') ? serviceOrPath : QStringLiteral("/StatusNotifierItem");
        const QString id = service + path;
        if (!items_.contains(id)) items_ << id;
        owners_.addWatchedService(service);
        say("registered " + service);
        emit StatusNotifierItemRegistered(id);
        bus_.connect(service, path, "org.kde.StatusNotifierItem", "NewIcon", this, SLOT(newIcon(QDBusMessage)));
        bus_.connect(service, path, "org.kde.StatusNotifierItem", "NewToolTip", this,
                     SLOT(newToolTip(QDBusMessage)));
        fetchIcon(service, path);
        fetchToolTip(service, path);
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();

private slots:
    void newIcon(const QDBusMessage& signal) { fetchIcon(signal.service(), signal.path()); }
    void newToolTip(const QDBusMessage& signal) { fetchToolTip(signal.service(), signal.path()); }

private:
    // The tooltip is (icon name, pixmaps, title, text); a panel shows its title.
    void fetchToolTip(const QString& service, const QString& path) {
        auto call = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
        call << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
        auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [service](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            QDBusPendingReply<QDBusVariant> reply = *w;
            if (reply.isError()) {
                say("tooltip-error " + service + " " + reply.error().message());
                return;
            }
            const auto arg = reply.value().variant().value<QDBusArgument>();
            QString iconName, title, text;
            arg.beginStructure();
            arg >> iconName;
            arg.beginArray();
            while (!arg.atEnd()) {
                int width = 0, height = 0;
                QByteArray bytes;
                arg.beginStructure();
                arg >> width >> height >> bytes;
                arg.endStructure();
            }
            arg.endArray();
            arg >> title >> text;
            arg.endStructure();
            say("tooltip " + service + " " + title);
        });
    }

    void fetchIcon(const QString& service, const QString& path) {
        auto call = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
        call << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("IconPixmap");
        auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
        const int seq = ++seq_;
        connect(pending, &QDBusPendingCallWatcher::finished, this, [service, seq](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            QDBusPendingReply<QDBusVariant> reply = *w;
            if (reply.isError()) {
                say("icon-error " + service + " " + reply.error().message());
                return;
            }
            const auto arg = reply.value().variant().value<QDBusArgument>();
            arg.beginArray();
            while (!arg.atEnd()) {
                int width = 0, height = 0;
                QByteArray bytes;
                arg.beginStructure();
                arg >> width >> height >> bytes;
                arg.endStructure();
                double alpha = 0, r = 0, g = 0, b = 0;
                int opaque = 0;
                const int n = width * height;
                for (int i = 0; i < n && (i + 1) * 4 <= bytes.size(); ++i) {
                    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData()) + 4 * i;  // A R G B
                    alpha += p[0] / 255.0;
                    if (p[0] > 128) {
                        ++opaque;
                        r += p[1];
                        g += p[2];
                        b += p[3];
                    }
                }
                say(QString("icon %1 %2 %3 %4x%5 %6 %7 %8 %9")
                        .arg(service)
                        .arg(seq)
                        .arg(monotonicNs())
                        .arg(width)
                        .arg(height)
                        .arg(n ? alpha / n : 0, 0, 'f', 4)
                        .arg(opaque ? int(r / opaque) : 0)
                        .arg(opaque ? int(g / opaque) : 0)
                        .arg(opaque ? int(b / opaque) : 0));
            }
            arg.endArray();
        });
    }

    QDBusConnection bus_;
    QDBusServiceWatcher owners_;
    QStringList items_;
    int seq_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fputs("sni_watcher: no session bus\n", stderr);
        return 1;
    }
    Watcher watcher(bus);
    if (!bus.registerObject("/StatusNotifierWatcher", &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService("org.kde.StatusNotifierWatcher")) {
        std::fputs("sni_watcher: cannot own org.kde.StatusNotifierWatcher\n", stderr);
        return 1;
    }
    bus.registerService(QString("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid()));
    emit watcher.StatusNotifierHostRegistered();
    say("ready");
    return app.exec();
}

#include "sni_watcher.moc"
