#pragma once

// A private session bus with the mock portal (tests/…/portal_mock.py under
// python3-dbusmock) on it, and a connection of the test's own.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../qt/QtApp.h"
#include "testsupport/PrivateBus.h"
#include "testsupport/Process.h"
#include "testsupport/TempDir.h"

namespace quillant::testing {

using namespace std::chrono_literals;

// One dbus-daemon for the test binary; each test starts its own mock on it.
class PortalBus final : public ::testing::Environment {
public:
    static PortalBus& get() {
        static PortalBus* bus = [] {
            qtApp();
            auto* b = new PortalBus;
            ::testing::AddGlobalTestEnvironment(b);
            b->bus_.emplace();
            return b;
        }();
        return *bus;
    }
    void TearDown() override { bus_.reset(); }
    const std::string& address() const { return bus_->address(); }

private:
    std::optional<PrivateSessionBus> bus_;
};

// The mock portal; absent until start().
class PortalMock {
public:
    explicit PortalMock(const std::string& name) : name_(QString::fromStdString(name)) {
        const auto& address = PortalBus::get().address();
        bus_.emplace(QDBusConnection::connectToBus(QString::fromStdString(address), name_ + "-control"));
    }
    ~PortalMock() {
        process_.reset();
        bus_.reset();
        QDBusConnection::disconnectFromBus(name_ + "-control");
    }

    // `parameters`: the template's JSON parameters.
    void start(const std::string& parameters = "{}") {
        process_ = Process::startWith({"/usr/bin/python3", "-m", "dbusmock", "--template", PORTAL_MOCK_TEMPLATE, "-l",
                                       (logDir_.path() / "mock.log").string(), "-p", parameters},
                                      ProcessOptions{{"DBUS_SESSION_BUS_ADDRESS=" + PortalBus::get().address()}});
        const bool up = processUntil(
            [this] { return bus_->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop")); },
            20s);
        if (!up) throw std::runtime_error("the mock portal did not start");
    }
    void stop() {
        process_.reset();
        processUntil(
            [this] { return !bus_->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop")); },
            10s);
    }

    // A connection for the code under test, distinct from the control one.
    QDBusConnection connect(const std::string& suffix) {
        const QString name = name_ + "-" + QString::fromStdString(suffix);
        names_.push_back(name);
        return QDBusConnection::connectToBus(QString::fromStdString(PortalBus::get().address()), name);
    }
    void disconnectAll() {
        for (const auto& name : names_) QDBusConnection::disconnectFromBus(name);
        names_.clear();
    }

    QDBusMessage control(const QString& method, const QVariantList& arguments = {}) {
        auto message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                      QStringLiteral("/org/freedesktop/portal/desktop"),
                                                      QStringLiteral("com.vostel.quillant.Test.PortalMock"), method);
        message.setArguments(arguments);
        auto reply = bus_->call(message, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply;
    }
    void respond(const std::string& method, std::uint32_t code) {
        control(QStringLiteral("SetResponse"), {QString::fromStdString(method), QVariant::fromValue(code)});
    }
    void silence(const std::string& method) { control(QStringLiteral("SetSilent"), {QString::fromStdString(method)}); }

    // What the mock saw, in order.
    std::vector<std::string> log() {
        std::vector<std::string> lines;
        const auto reply = control(QStringLiteral("GetLog"));
        if (reply.arguments().isEmpty()) return lines;
        for (const auto& line : reply.arguments().first().toStringList()) lines.push_back(line.toStdString());
        return lines;
    }
    bool saw(const std::string& needle) {
        const auto lines = log();
        return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(needle) != std::string::npos; });
    }
    bool waitFor(const std::string& needle, std::chrono::milliseconds bound = 10s) {
        return processUntil([&] { return saw(needle); }, bound);
    }
    // The key events as "keysym 65507 1" / "keycode 46 0" lines.
    std::vector<std::string> keys() {
        std::vector<std::string> out;
        for (auto& line : log())
            if (line.starts_with("keysym ") || line.starts_with("keycode ")) out.push_back(line);
        return out;
    }

private:
    QString name_;
    std::optional<QDBusConnection> bus_;
    std::optional<Process> process_;
    TempDir logDir_;
    std::vector<QString> names_;
};

// Every key pressed in `events` is released later.
inline ::testing::AssertionResult everyPressReleased(const std::vector<std::string>& events) {
    std::map<std::string, int> down;
    for (const auto& event : events) {
        const auto space = event.rfind(' ');
        const std::string key = event.substr(0, space);
        if (event.substr(space + 1) == "1")
            ++down[key];
        else if (down[key] > 0)
            --down[key];
    }
    for (const auto& [key, count] : down)
        if (count > 0) return ::testing::AssertionFailure() << key << " left down";
    return ::testing::AssertionSuccess();
}

}  // namespace quillant::testing
