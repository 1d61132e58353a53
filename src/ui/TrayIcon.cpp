#include "ui/TrayIcon.h"

#include <QCursor>
#include <QDBusConnection>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "app/AppCoordinator.h"
#include "ui/StatusNotifierItem.h"

namespace quillant::ui {

namespace {

QDBusConnection busFor(const TrayIcon::Options& options) {
    if (!options.busAddress) return QDBusConnection::sessionBus();
    return QDBusConnection::connectToBus(*options.busAddress, QStringLiteral("quillant-tray"));
}

}  // namespace

TrayIcon::TrayIcon(Executor& executor, app::AppCoordinator& coordinator, Logger& logger, Options options,
                   QObject* parent)
    : TrayIcon(executor, coordinator.menuBarState, logger, std::move(options), parent) {
    setStatus(coordinator.lastStatus.get());
    statusSubscription_ = coordinator.lastStatus.onDidSet([this](const std::string& status) { setStatus(status); });
}

void TrayIcon::setStatus(const std::string& status) {
    toolTip_ = status.empty() ? QStringLiteral("quillant") : "quillant — " + QString::fromStdString(status);
    sni_->setToolTip(toolTip_);
    if (xembed_) xembed_->setToolTip(toolTip_);
}

TrayIcon::TrayIcon(Executor& executor, const Published<app::MenuBarState>& state, Logger& logger, Options options,
                   QObject* parent)
    : QObject(parent),
      executor_(executor),
      log_(logger, std::string(kLogSubsystem), "tray"),
      art_(loadMenuBarGlyph(options.glyphPath)) {
    if (art_.usesFallbackSymbol())
        log_.error("tray glyph " + options.glyphPath.toStdString() + " is missing or unreadable; using the fallback symbol");

    sni_ = std::make_unique<StatusNotifierItem>(busFor(options), QStringLiteral("quillant"));
    connect(sni_.get(), &StatusNotifierItem::activateRequested, this,
            [this](int, int) { emit activated(QRect(), QCursor::pos()); });
    connect(sni_.get(), &StatusNotifierItem::shownChanged, this, [this](bool) { chooseFallback(); });
    connect(sni_.get(), &StatusNotifierItem::settledChanged, this, [this] { chooseFallback(); });

    label_ = std::make_unique<MenuBarLabel>(executor_, state, [this](const MenuBarFrame& f) { show(f); });
    sni_->publish();
    if (sni_->settled()) chooseFallback();
}

TrayIcon::~TrayIcon() {
    statusSubscription_ = Subscription();
    label_.reset();
    if (xembed_) xembed_->hide();
}

void TrayIcon::chooseFallback() {
    // Qt picks its own StatusNotifierItem or XEmbed once per process, when its
    // first tray icon is made: ours is made only while no host is there, so
    // Qt's choice is XEmbed and the two never show side by side.
    if (sni_->isShown()) {
        if (xembed_) xembed_->hide();
        if (!loggedSni_) {
            loggedSni_ = true;
            log_.info("tray icon shown on the StatusNotifierItem host");
        }
        return;
    }
    if (!xembed_) {
        xembed_ = std::make_unique<QSystemTrayIcon>();
        xembed_->setToolTip(toolTip_);
        connect(xembed_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason) {
            // Qt counts two presses on the icon as a double click even when a
            // click elsewhere (which closed the panel) came between them; so a
            // double click is a click like any other.
            emit activated(xembed_->geometry(), QCursor::pos());
        });
    }
    if (!xembed_->isVisible()) {
        xembed_->setIcon(iconFor(label_->current()));
        xembed_->show();
    }
    if (!loggedNoTray_ && !QSystemTrayIcon::isSystemTrayAvailable()) {
        loggedNoTray_ = true;
        log_.info("no tray is available; quillant keeps working and its icon appears when a tray starts");
    }
}

void TrayIcon::show(const MenuBarFrame& frame) {
    // The item keeps the current picture even while no host shows it, and
    // announces it only to a host.
    SniPixmapList pixmaps;
    for (int h : art_.heights()) pixmaps.push_back(SniPixmap::fromImage(art_.image(frame, h)));
    sni_->setIcon(std::move(pixmaps));
    if (xembed_ && xembed_->isVisible()) xembed_->setIcon(iconFor(frame));
}

QIcon TrayIcon::iconFor(const MenuBarFrame& frame) const {
    QIcon icon;
    for (int h : art_.heights()) icon.addPixmap(QPixmap::fromImage(art_.image(frame, h)));
    return icon;
}

bool TrayIcon::isShownInTray() const { return path() != Path::none; }

TrayIcon::Path TrayIcon::path() const {
    if (sni_ && sni_->isShown()) return Path::statusNotifierItem;
    if (xembed_ && xembed_->isVisible() && !xembed_->geometry().isEmpty()) return Path::xembed;
    return Path::none;
}

QRect TrayIcon::iconGeometry() const {
    if (path() == Path::xembed) return xembed_->geometry();
    return {};
}

}  // namespace quillant::ui
