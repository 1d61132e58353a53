#include "platform/linux/portal/PortalRequest.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QObject>

namespace quillant::linux_platform {

namespace {
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
}  // namespace

std::string describe(PortalOutcome outcome) {
    switch (outcome) {
        case PortalOutcome::success: return "allowed";
        case PortalOutcome::cancelled: return "cancelled by the user";
        case PortalOutcome::refused: return "refused";
        case PortalOutcome::failed: return "failed";
        case PortalOutcome::timedOut: return "no answer from the desktop portal";
    }
    return "failed";
}

PortalOutcome outcomeForResponseCode(std::uint32_t code) {
    if (code == 0) return PortalOutcome::success;
    if (code == 1) return PortalOutcome::cancelled;
    return PortalOutcome::refused;
}

QString sessionHandleFrom(const QVariantMap& results) {
    const QVariant value = results.value(QStringLiteral("session_handle"));
    if (value.canConvert<QDBusObjectPath>() && value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

// One request in flight: its subscription to Response and its bound.
class PendingPortalRequest final : public QObject {
    Q_OBJECT
public:
    PendingPortalRequest(PortalConnection& owner, std::uint64_t id, std::function<void(PortalResult)> done)
        : owner_(owner), id_(id), done_(std::move(done)) {}
    ~PendingPortalRequest() override {
        timer_.cancel();
        unsubscribe();
    }

    bool subscribe(const QString& path) {
        unsubscribe();
        path_ = path;
        subscribed_ = owner_.bus().connect(kPortalService, path_, kRequestInterface, QStringLiteral("Response"), this,
                                           SLOT(onResponse(uint, QVariantMap)));
        return subscribed_;
    }
    void unsubscribe() {
        if (subscribed_)
            owner_.bus().disconnect(kPortalService, path_, kRequestInterface, QStringLiteral("Response"), this,
                                    SLOT(onResponse(uint, QVariantMap)));
        subscribed_ = false;
    }
    const QString& path() const { return path_; }
    void setTimer(TimerHandle timer) { timer_ = timer; }
    void cancelTimer() { timer_.cancel(); }
    void setWatcher(QDBusPendingCallWatcher* watcher) { watcher_ = watcher; }
    // No reply reaches a finished request (it lives on until deleted later).
    void detach() {
        timer_.cancel();
        unsubscribe();
        if (watcher_) watcher_->disconnect();
        watcher_ = nullptr;
    }
    std::function<void(PortalResult)> takeDone() { return std::exchange(done_, {}); }

public slots:
    void onResponse(uint code, const QVariantMap& results) {
        PortalResult result;
        result.outcome = outcomeForResponseCode(code);
        if (result.outcome == PortalOutcome::success) result.results = results;
        owner_.finish(id_, std::move(result));
    }

private:
    PortalConnection& owner_;
    std::uint64_t id_;
    std::function<void(PortalResult)> done_;
    QString path_;
    bool subscribed_ = false;
    TimerHandle timer_;
    QDBusPendingCallWatcher* watcher_ = nullptr;
};

PortalConnection::PortalConnection(QDBusConnection bus, Executor& executor, Logger& logger)
    : bus_(std::move(bus)), executor_(executor), log_(logger, std::string(kLogSubsystem), "portal") {}

PortalConnection::~PortalConnection() { requests_.clear(); }

std::optional<std::uint32_t> PortalConnection::interfaceVersion(const QString& interface, int boundMs) {
    return uintProperty(interface, QStringLiteral("version"), boundMs);
}

bool PortalConnection::reachable(int boundMs) {
    if (!bus_.isConnected()) return false;
    const auto message = QDBusMessage::createMethodCall(kPortalService, kPortalPath, QStringLiteral("org.freedesktop.DBus.Peer"),
                                                        QStringLiteral("Ping"));
    return bus_.call(message, QDBus::Block, boundMs).type() == QDBusMessage::ReplyMessage;
}

std::optional<std::uint32_t> PortalConnection::uintProperty(const QString& interface, const QString& name,
                                                            int boundMs) {
    if (!bus_.isConnected()) return std::nullopt;
    auto message = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                  QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << interface << name;
    const QDBusMessage reply = bus_.call(message, QDBus::Block, boundMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    bool ok = false;
    const auto version = reply.arguments().first().value<QDBusVariant>().variant().toUInt(&ok);
    if (!ok) return std::nullopt;
    return version;
}

QString PortalConnection::newToken(const char* prefix) {
    return QStringLiteral("quillant_%1_%2").arg(QString::fromLatin1(prefix)).arg(nextToken_++);
}

QString PortalConnection::requestPath(const QString& token) const {
    QString sender = bus_.baseService();
    if (sender.startsWith(QLatin1Char(':'))) sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void PortalConnection::request(const QString& interface, const QString& method, const QVariantList& arguments,
                               QVariantMap options, Duration bound, std::function<void(PortalResult)> done) {
    const std::uint64_t id = nextId_++;
    const QString token = newToken("request");
    options.insert(QStringLiteral("handle_token"), token);
    auto pending = std::make_unique<PendingPortalRequest>(*this, id, std::move(done));
    PendingPortalRequest& request = *pending;
    requests_.emplace(id, std::move(pending));
    const std::string what = interface.section(QLatin1Char('.'), -1).toStdString() + "." + method.toStdString();

    // Subscribed before the call: the response may come right behind the reply.
    request.subscribe(requestPath(token));
    request.setTimer(executor_.schedule(bound, [this, id, what] {
        auto it = requests_.find(id);
        if (it == requests_.end()) return;
        log_.error(what + ": no answer from the desktop portal in time; request closed");
        bus_.asyncCall(QDBusMessage::createMethodCall(kPortalService, it->second->path(), kRequestInterface,
                                                      QStringLiteral("Close")));
        finish(id, PortalResult{PortalOutcome::timedOut, {}, {}});
    }));

    auto message = QDBusMessage::createMethodCall(kPortalService, kPortalPath, interface, method);
    QVariantList all = arguments;
    all.append(options);
    message.setArguments(all);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), &request);
    request.setWatcher(watcher);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &request,
                     [this, id, what, watcher, expected = request.path()] {
                         auto it = requests_.find(id);
                         if (it == requests_.end()) return;
                         QDBusPendingReply<QDBusObjectPath> reply = *watcher;
                         if (reply.isError()) {
                             const QString error = reply.error().name() + QStringLiteral(": ") + reply.error().message();
                             log_.error(what + " failed: " + error.toStdString());
                             finish(id, PortalResult{PortalOutcome::failed, {}, error});
                             return;
                         }
                         // Portals older than the handle_token option choose their own path.
                         if (reply.value().path() != expected) it->second->subscribe(reply.value().path());
                     });
}

void PortalConnection::finish(std::uint64_t id, PortalResult result) {
    auto it = requests_.find(id);
    if (it == requests_.end()) return;
    auto done = it->second->takeDone();
    it->second->detach();
    // The request object may be the receiver of the signal being handled.
    it->second.release()->deleteLater();
    requests_.erase(it);
    if (done) done(std::move(result));
}

class PortalSession::Watcher final : public QObject {
    Q_OBJECT
public:
    explicit Watcher(std::function<void(End)> ended) : ended_(std::move(ended)) {}
    std::function<void(End)> ended_;
    QString owner;  // the portal's unique name when the session was made
public slots:
    void onClosed(const QVariantMap&) {
        if (ended_) ended_(End::closedByPortal);
    }
    void onOwnerChanged(const QString&, const QString&, const QString& newOwner) {
        if (newOwner != owner && ended_) ended_(End::portalGone);
    }
};

PortalSession::PortalSession(PortalConnection& connection, QString handle, std::function<void(End)> ended)
    : connection_(connection), handle_(std::move(handle)) {
    watcher_ = std::make_unique<Watcher>([this, ended = std::move(ended)](End end) {
        if (!open_) return;
        open_ = false;
        if (ended) ended(end);
    });
    connection_.bus().connect(kPortalService, handle_, kSessionInterface, QStringLiteral("Closed"), watcher_.get(),
                              SLOT(onClosed(QVariantMap)));
    // A session lives in the portal process: when that goes, no Closed comes.
    if (auto* bus = connection_.bus().interface()) watcher_->owner = bus->serviceOwner(kPortalService).value();
    auto owners = std::make_unique<QDBusServiceWatcher>(kPortalService, connection_.bus(),
                                                        QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(owners.get(), &QDBusServiceWatcher::serviceOwnerChanged, watcher_.get(), &Watcher::onOwnerChanged);
    ownerWatcher_ = std::move(owners);
}

PortalSession::~PortalSession() {
    close();
    connection_.bus().disconnect(kPortalService, handle_, kSessionInterface, QStringLiteral("Closed"), watcher_.get(),
                                 SLOT(onClosed(QVariantMap)));
}

void PortalSession::close() {
    if (!open_) return;
    open_ = false;
    // The portal's own answer may take a second (GNOME's does), which would
    // hold up quitting. The bus answers in order, so once it has answered a
    // call made after the Close, the Close is on its way even if we end next.
    auto& bus = connection_.bus();
    bus.asyncCall(QDBusMessage::createMethodCall(kPortalService, handle_, kSessionInterface, QStringLiteral("Close")));
    bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")),
             QDBus::Block, 1000);
}

}  // namespace quillant::linux_platform

#include "PortalRequest.moc"
