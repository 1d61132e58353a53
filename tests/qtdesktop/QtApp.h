#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>

namespace quillant::testing {

// The one application object of the test binary.
inline QCoreApplication& qtApp() {
    static int argc = 1;
    static char name[] = "qtdesktop_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until `done` holds or the real-time bound passes.
inline bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    qtApp();
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

}  // namespace quillant::testing
