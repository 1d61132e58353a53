#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>

class QDBusServiceWatcher;

namespace quillant::ui {

// One icon image as StatusNotifierItem hosts read it: ARGB32, network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
    static SniPixmap fromImage(const QImage& image);
};
using SniPixmapList = QList<SniPixmap>;

struct SniToolTip {
    QString iconName;
    SniPixmapList pixmaps;
    QString title;
    QString text;
};

QDBusArgument& operator<<(QDBusArgument& arg, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip);

class SniObject;

// Our own StatusNotifierItem on the session bus. It registers with
// org.kde.StatusNotifierWatcher whenever a watcher is (or comes) on the bus,
// so a panel that starts after us, or restarts, still shows the icon.
class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    StatusNotifierItem(QDBusConnection bus, QString title, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Puts the item on the bus; false without a session bus or when the name is taken.
    bool publish();
    // Registered with a watcher that reports a host: the icon is on a panel.
    bool isShown() const { return shown_; }
    // Whether the first answer about the watcher has come (or there is none).
    bool settled() const { return settled_; }

    void setIcon(SniPixmapList pixmaps);
    const SniPixmapList& icon() const;
    // The text a host shows on hovering the item.
    void setToolTip(QString text);
    QString toolTip() const;
    QString serviceName() const { return serviceName_; }

signals:
    void shownChanged(bool shown);
    void settledChanged();
    void activateRequested(int x, int y);

private slots:
    void askHostRegistered();

private:
    void watcherAppeared();
    void watcherGone();
    void update(bool registered, bool hostRegistered);

    QDBusConnection bus_;
    QString serviceName_;
    std::unique_ptr<SniObject> object_;
    std::unique_ptr<QDBusServiceWatcher> watcher_;
    bool published_ = false;
    bool registered_ = false;
    bool hostRegistered_ = false;
    bool shown_ = false;
    bool settled_ = false;
    unsigned generation_ = 0;  // drops answers meant for a watcher that has gone
};

}  // namespace quillant::ui

Q_DECLARE_METATYPE(quillant::ui::SniPixmap)
Q_DECLARE_METATYPE(quillant::ui::SniToolTip)
