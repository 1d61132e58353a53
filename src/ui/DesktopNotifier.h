#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "app/AppState.h"
#include "runtime/Observable.h"

namespace quillant::ui {

// Tells of a refused or failed fix through the desktop's notification server
// (org.freedesktop.Notifications), for desktops where no tray shows the glyph.
// A newer notice replaces the one still on screen, and each expires by itself.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr int kExpiresMs = 6000;

    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);
    // Follows the fixes' outcomes: a refusal or failure is told while
    // `glyphShown` says no tray shows the glyph; a success never is.
    DesktopNotifier(QDBusConnection bus, const Published<std::optional<app::FixOutcome>>& outcomes,
                    std::function<bool()> glyphShown, QObject* parent = nullptr);

    void notify(const QString& body);
    // The server's id of the notice on screen, 0 before the first answer.
    std::uint32_t lastId() const { return lastId_; }

private:
    QDBusConnection bus_;
    std::uint32_t lastId_ = 0;
    std::function<bool()> glyphShown_;
    Subscription subscription_;
};

}  // namespace quillant::ui
