#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "runtime/Executor.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

inline const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// How a portal request ended. The portal's own response codes are 0
// (success), 1 (the user cancelled) and 2 (refused, or ended some other
// way); the rest are ours.
enum class PortalOutcome {
    success,
    cancelled,
    refused,
    failed,    // the call itself failed: no portal, no such interface, a bad argument
    timedOut,  // no response within the bound
};

std::string describe(PortalOutcome outcome);
PortalOutcome outcomeForResponseCode(std::uint32_t code);

struct PortalResult {
    PortalOutcome outcome = PortalOutcome::failed;
    QVariantMap results;  // the response's results (success only)
    QString error;        // the D-Bus error of a failed call
};

class PendingPortalRequest;

// The caller's side of the portal's request pattern on one bus connection.
// A method that shows the user something answers at once with a Request
// object and tells the outcome later through that object's Response signal.
// The request's path is known before the call (it is made of our unique name
// and a handle token we choose), so the signal is subscribed to before the
// call goes out and a quick answer is never missed. Every request has a
// bound on the executor's clock; past it the request is closed and reported
// as timed out. Main thread only.
class PortalConnection {
public:
    PortalConnection(QDBusConnection bus, Executor& executor, Logger& logger);
    ~PortalConnection();
    PortalConnection(const PortalConnection&) = delete;
    PortalConnection& operator=(const PortalConnection&) = delete;

    QDBusConnection& bus() { return bus_; }
    Executor& executor() { return executor_; }

    // The portal interface's version, or nothing when the portal or the
    // interface is absent. Blocks for at most `bound`.
    std::optional<std::uint32_t> interfaceVersion(const QString& interface, int boundMs = 2000);
    // Whether a portal answers on the bus (starting it if the bus can). Bounded.
    bool reachable(int boundMs = 2000);
    // A u property of a portal interface (e.g. AvailableDeviceTypes); nothing when unreadable.
    std::optional<std::uint32_t> uintProperty(const QString& interface, const QString& name, int boundMs = 2000);

    // A fresh token for a handle_token or session_handle_token option.
    QString newToken(const char* prefix);
    // The object path a request made with `token` will have.
    QString requestPath(const QString& token) const;

    // Calls `interface.method(arguments..., options)` with a handle_token
    // added to `options`; `done` gets the outcome exactly once, on the main
    // thread, unless this connection is destroyed first.
    void request(const QString& interface, const QString& method, const QVariantList& arguments, QVariantMap options,
                 Duration bound, std::function<void(PortalResult)> done);

    // Requests still waiting for their response.
    std::size_t pending() const { return requests_.size(); }

private:
    friend class PendingPortalRequest;
    void finish(std::uint64_t id, PortalResult result);

    QDBusConnection bus_;
    Executor& executor_;
    CategoryLogger log_;
    std::uint64_t nextId_ = 1;
    std::uint64_t nextToken_ = 1;
    std::map<std::uint64_t, std::unique_ptr<PendingPortalRequest>> requests_;
};

// A portal session (org.freedesktop.portal.Session): closed when this
// object goes, and tells when it ends first: the portal closes it, or the
// portal leaves the bus (it crashed or was restarted) and takes it along.
class PortalSession {
public:
    enum class End { closedByPortal, portalGone };

    PortalSession(PortalConnection& connection, QString handle, std::function<void(End)> ended);
    ~PortalSession();
    PortalSession(const PortalSession&) = delete;
    PortalSession& operator=(const PortalSession&) = delete;

    const QString& handle() const { return handle_; }
    bool open() const { return open_; }
    // Asks the portal to end the session (bounded; idempotent).
    void close();

private:
    class Watcher;
    PortalConnection& connection_;
    QString handle_;
    bool open_ = true;
    std::unique_ptr<Watcher> watcher_;
    std::unique_ptr<QObject> ownerWatcher_;
};

// The session handle in a CreateSession response ("session_handle", a
// string by the documentation, an object path on some portals).
QString sessionHandleFrom(const QVariantMap& results);

}  // namespace quillant::linux_platform
