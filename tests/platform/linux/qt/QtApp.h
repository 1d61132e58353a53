#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <functional>

namespace quillant::testing {

// The one application object of the test binary. It is deleted when the
// tests end, before static destruction begins: Qt's own globals must outlive it.
class QtAppEnvironment final : public ::testing::Environment {
public:
    static QCoreApplication& app() {
        static int argc = 1;
        static char name[] = "qt_tests";
        static char* argv[] = {name, nullptr};
        if (!instance()) instance() = new QCoreApplication(argc, argv);
        return *instance();
    }
    void TearDown() override {
        delete instance();
        instance() = nullptr;
    }

private:
    static QCoreApplication*& instance() {
        static QCoreApplication* app = nullptr;
        return app;
    }
};

inline QCoreApplication& qtApp() {
    static const bool registered = (::testing::AddGlobalTestEnvironment(new QtAppEnvironment), true);
    (void)registered;
    return QtAppEnvironment::app();
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
