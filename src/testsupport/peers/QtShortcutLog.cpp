// A focused Qt window that prints "copy" or "paste" when a key press matches
// the platform's copy or paste shortcut as Qt itself decides it, and "key"
// for any other press, after a first "ready" line.
#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class ShortcutLog : public QWidget {
protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Copy))
            std::printf("copy\n");
        else if (event->matches(QKeySequence::Paste))
            std::printf("paste\n");
        else if (!event->text().isEmpty())
            std::printf("key %s\n", event->text().toUtf8().constData());
        std::fflush(stdout);
    }
    void focusInEvent(QFocusEvent*) override {
        if (ready_) return;
        ready_ = true;
        std::printf("ready\n");
        std::fflush(stdout);
    }

private:
    bool ready_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ShortcutLog window;
    window.setFocusPolicy(Qt::StrongFocus);
    window.resize(300, 200);
    window.show();
    window.activateWindow();
    window.setFocus();
    return app.exec();
}
