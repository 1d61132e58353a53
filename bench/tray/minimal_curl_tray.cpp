// The floor the agent's idle footprint is measured against: the minimal tray
// program, plus libcurl linked and initialised as any HTTPS client has it.
#include <curl/curl.h>

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* easy = curl_easy_init();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QImage image(22, 22, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::darkGray);
    QSystemTrayIcon tray(QIcon(QPixmap::fromImage(image)));
    QWidget popup(nullptr, Qt::Popup);
    popup.resize(300, 200);
    QObject::connect(&tray, &QSystemTrayIcon::activated, &popup, [&] { popup.show(); });
    tray.show();
    const int status = app.exec();
    curl_easy_cleanup(easy);
    curl_global_cleanup();
    return status;
}
