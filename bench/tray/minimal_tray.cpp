// The floor quillant's footprint is measured against: a Qt Widgets program
// with a tray icon and a hidden popup, nothing else.
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QImage image(22, 22, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::darkGray);
    QSystemTrayIcon tray(QIcon(QPixmap::fromImage(image)));
    QWidget popup(nullptr, Qt::Popup);
    popup.resize(300, 200);
    QObject::connect(&tray, &QSystemTrayIcon::activated, &popup, [&] { popup.show(); });
    tray.show();
    return app.exec();
}
