#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "app/AppState.h"
#include "runtime/Executor.h"
#include "runtime/Logger.h"
#include "runtime/Observable.h"
#include "ui/MenuBarGlyph.h"
#include "ui/MenuBarLabel.h"

class QIcon;
class QSystemTrayIcon;

namespace quillant::app {
class AppCoordinator;
}

namespace quillant::ui {

class StatusNotifierItem;

// quillant's icon in the desktop's tray. It is our own StatusNotifierItem
// whenever a StatusNotifierWatcher with a host is on the session bus (KDE,
// Xfce, Cinnamon, MATE, GNOME with its extension), and a Qt XEmbed tray icon
// otherwise; it moves between the two as panels come and go.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    enum class Path { none, statusNotifierItem, xembed };

    struct Options {
        QString glyphPath = kMenuBarGlyphResource;
        // The bus to publish on; the session bus when unset.
        std::optional<QString> busAddress;
    };

    TrayIcon(Executor& executor, const Published<app::MenuBarState>& state, Logger& logger, Options options,
             QObject* parent = nullptr);
    TrayIcon(Executor& executor, const Published<app::MenuBarState>& state, Logger& logger, QObject* parent = nullptr)
        : TrayIcon(executor, state, logger, Options{}, parent) {}
    // Shows the coordinator's glyph, and its status in the tooltip.
    TrayIcon(Executor& executor, app::AppCoordinator& coordinator, Logger& logger, Options options,
             QObject* parent = nullptr);
    TrayIcon(Executor& executor, app::AppCoordinator& coordinator, Logger& logger, QObject* parent = nullptr)
        : TrayIcon(executor, coordinator, logger, Options{}, parent) {}
    ~TrayIcon() override;

    // Whether a tray shows the icon now.
    bool isShownInTray() const;
    Path path() const;
    // The icon's rectangle on the screen, when the tray tells it (XEmbed).
    QRect iconGeometry() const;
    const MenuBarArt& art() const { return art_; }
    const MenuBarFrame& frame() const { return label_->current(); }
    // "quillant — " and the status, on whichever tray shows the icon.
    void setStatus(const std::string& status);
    QString toolTip() const { return toolTip_; }

signals:
    // A click on the icon. `iconGeometry` is empty where the tray does not tell it.
    void activated(QRect iconGeometry, QPoint pointer);

private:
    void show(const MenuBarFrame& frame);
    void chooseFallback();
    QIcon iconFor(const MenuBarFrame& frame) const;

    Executor& executor_;
    CategoryLogger log_;
    MenuBarArt art_;
    std::unique_ptr<StatusNotifierItem> sni_;
    std::unique_ptr<QSystemTrayIcon> xembed_;
    std::unique_ptr<MenuBarLabel> label_;
    QString toolTip_ = QStringLiteral("quillant");
    Subscription statusSubscription_;
    bool loggedNoTray_ = false;
    bool loggedSni_ = false;
};

}  // namespace quillant::ui
