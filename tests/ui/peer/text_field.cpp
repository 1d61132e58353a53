// A focused window with one text field whose text (argv[1]) is selected:
// an application the user edits, for the screenshots. Prints "ready" once it
// has the keyboard focus.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLineEdit field(QString::fromUtf8(argc > 1 ? argv[1] : ""));
    field.setWindowTitle(QStringLiteral("text field"));
    field.resize(360, 40);
    field.move(40, 80);
    field.show();
    field.activateWindow();
    field.selectAll();
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (!field.hasFocus() || !field.isActiveWindow()) return;
        ready.stop();
        std::puts("ready");
        std::fflush(stdout);
    });
    ready.start(50);
    return app.exec();
}
