#include "ui/StatusNotifierItem.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QtEndian>
#include <unistd.h>

namespace quillant::ui {

namespace {
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
}  // namespace

SniPixmap SniPixmap::fromImage(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    SniPixmap out{argb.width(), argb.height(), QByteArray()};
    out.bytes.resize(qsizetype(argb.width()) * argb.height() * 4);
    auto* dst = reinterpret_cast<quint32*>(out.bytes.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) *dst++ = qToBigEndian(row[x]);
    }
    return out;
}

QDBusArgument& operator<<(QDBusArgument& arg, const SniPixmap& pixmap) {
    arg.beginStructure();
    arg << pixmap.width << pixmap.height << pixmap.bytes;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, SniPixmap& pixmap) {
    arg.beginStructure();
    arg >> pixmap.width >> pixmap.height >> pixmap.bytes;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip) {
    arg.beginStructure();
    arg << tip.iconName << tip.pixmaps << tip.title << tip.text;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip) {
    arg.beginStructure();
    arg >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
    arg.endStructure();
    return arg;
}

// The object hosts talk to, at /StatusNotifierItem.
class SniObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ emptyString)
    Q_PROPERTY(quillant::ui::SniPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyString)
    Q_PROPERTY(quillant::ui::SniPixmapList OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ emptyString)
    Q_PROPERTY(quillant::ui::SniPixmapList AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ emptyString)
    Q_PROPERTY(QString IconThemePath READ emptyString)
    Q_PROPERTY(quillant::ui::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    SniObject(StatusNotifierItem& owner, QString title) : owner_(owner), title_(std::move(title)) {}

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("quillant"); }
    QString title() const { return title_; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString emptyString() const { return {}; }
    SniPixmapList iconPixmap() const { return pixmaps_; }
    SniPixmapList noPixmaps() const { return {}; }
    // The whole line goes in the title: some hosts show nothing else.
    SniToolTip toolTip() const { return {QString(), {}, toolTip_.isEmpty() ? title_ : toolTip_, QString()}; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")); }

    SniPixmapList pixmaps_;
    QString toolTip_;

public slots:
    // Any click opens (or closes) our own panel: there is no separate menu.
    void Activate(int x, int y) { emit owner_.activateRequested(x, y); }
    void SecondaryActivate(int x, int y) { emit owner_.activateRequested(x, y); }
    void ContextMenu(int x, int y) { emit owner_.activateRequested(x, y); }
    void Scroll(int, const QString&) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem& owner_;
    QString title_;
};

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QString title, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), object_(std::make_unique<SniObject>(*this, std::move(title))) {
    static const bool registered = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmapList>();
        qDBusRegisterMetaType<SniToolTip>();
        return true;
    }();
    (void)registered;
    serviceName_ = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(::getpid());
}

StatusNotifierItem::~StatusNotifierItem() {
    if (published_) {
        bus_.unregisterObject(kItemPath);
        bus_.unregisterService(serviceName_);
    }
}

bool StatusNotifierItem::publish() {
    if (published_) return true;
    if (!bus_.isConnected() || !bus_.registerService(serviceName_)) {
        settled_ = true;
        return false;
    }
    if (!bus_.registerObject(kItemPath, object_.get(),
                             QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots |
                                 QDBusConnection::ExportAllSignals)) {
        bus_.unregisterService(serviceName_);
        settled_ = true;
        return false;
    }
    published_ = true;
    watcher_ = std::make_unique<QDBusServiceWatcher>(kWatcherService, bus_, QDBusServiceWatcher::WatchForOwnerChange);
    connect(watcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (newOwner.isEmpty())
                    watcherGone();
                else
                    watcherAppeared();
            });
    bus_.connect(kWatcherService, kWatcherPath, kWatcherInterface, QStringLiteral("StatusNotifierHostRegistered"), this,
                 SLOT(askHostRegistered()));
    bus_.connect(kWatcherService, kWatcherPath, kWatcherInterface, QStringLiteral("StatusNotifierHostUnregistered"),
                 this, SLOT(askHostRegistered()));
    if (bus_.interface()->isServiceRegistered(kWatcherService))
        watcherAppeared();
    else
        watcherGone();
    return true;
}

void StatusNotifierItem::watcherAppeared() {
    const unsigned generation = ++generation_;
    auto call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherInterface,
                                               QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (generation != generation_) return;
        registered_ = !w->isError();
        askHostRegistered();
    });
}

void StatusNotifierItem::watcherGone() {
    ++generation_;
    update(false, false);
}

void StatusNotifierItem::askHostRegistered() {
    const unsigned generation = generation_;
    auto call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                               QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (generation != generation_) return;
        QDBusPendingReply<QDBusVariant> reply = *w;
        update(registered_, !reply.isError() && reply.value().variant().toBool());
    });
}

void StatusNotifierItem::update(bool registered, bool hostRegistered) {
    registered_ = registered;
    hostRegistered_ = hostRegistered;
    const bool shown = registered_ && hostRegistered_;
    const bool wasSettled = settled_;
    settled_ = true;
    if (shown != shown_) {
        shown_ = shown;
        emit shownChanged(shown_);
    }
    if (!wasSettled) emit settledChanged();
}

void StatusNotifierItem::setIcon(SniPixmapList pixmaps) {
    object_->pixmaps_ = std::move(pixmaps);
    if (shown_) emit object_->NewIcon();
}

const SniPixmapList& StatusNotifierItem::icon() const { return object_->pixmaps_; }

void StatusNotifierItem::setToolTip(QString text) {
    if (text == object_->toolTip_) return;
    object_->toolTip_ = std::move(text);
    if (shown_) emit object_->NewToolTip();
}

QString StatusNotifierItem::toolTip() const { return object_->toolTip_; }

}  // namespace quillant::ui

#include "StatusNotifierItem.moc"
