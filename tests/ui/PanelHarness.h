#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/qt/QtKeyDownMonitor.h"
#include "testsupport/CoordinatorHarness.h"
#include "ui/MenuBarView.h"
#include "ui/MenuItemButtonStyle.h"

namespace quillant::testing {

// The one QApplication of a test binary, deleted before static destruction.
class WidgetAppEnvironment final : public ::testing::Environment {
public:
    static QApplication& app() {
        static int argc = 1;
        static char name[] = "ui_tests";
        static char* argv[] = {name, nullptr};
        if (!instance()) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            instance() = new QApplication(argc, argv);
        }
        return *instance();
    }
    void TearDown() override {
        delete instance();
        instance() = nullptr;
    }
    static QApplication*& instance() {
        static QApplication* app = nullptr;
        return app;
    }
};

inline QApplication& widgetApp() {
    static const bool registered = (::testing::AddGlobalTestEnvironment(new WidgetAppEnvironment), true);
    (void)registered;
    return WidgetAppEnvironment::app();
}

// The panel over the real coordinator on substitutes (in virtual time, the
// token store in a temporary home), with the real Qt key-down monitor and
// shortcuts written the Linux way.
struct PanelHarness {
    QApplication& qt = widgetApp();
    CoordinatorHarness core{clipboard::PasteboardProfile::linuxX11(), hotkey::ShortcutStyle::linuxWords};
    VirtualExecutor& ex = core.ex;
    RecordingLogger& logs = core.logs;
    credentials::TokenStore& tokens = core.tokens;
    hotkey::Preferences& preferences = core.preferences;
    FakeHotKeyService& hotKeyService = core.hotKeyService;
    linux_platform::QtKeyDownMonitor keyDownMonitor;
    std::unique_ptr<ui::MenuBarView> panel;

    std::vector<QUrl> opened;
    bool urlsOpen = true;  // whether the desktop's URL handler succeeds
    int quits = 0;
    std::optional<std::string> version = "1.4.0";
    // Set before start() for a panel with the Corrections row.
    std::optional<ui::CorrectionsServices> corrections;
    bool localCorrector = false;  // the service is quillant's own local corrector
    bool clicksWatched = false;   // presses elsewhere come through pointerPressedAt()

    PanelHarness() { core.runningVersion = "1.4.0"; }
    ~PanelHarness() { panel.reset(); }

    const std::filesystem::path& home() const { return core.home.path(); }
    app::AppCoordinator* coordinator() { return core.coordinator.get(); }
    void setValidation(FakeHttpSession::Reply reply) { core.validateReply = std::move(reply); }
    void setVersion(FakeHttpSession::Reply reply) { core.versionReply = std::move(reply); }
    FakeHttpSession& http() { return *core.http; }

    void start(std::optional<std::string> storedKey = std::nullopt) {
        core.start(storedKey);
        ui::MenuBarViewServices services{keyDownMonitor, ex, [this](const QUrl& url) {
                                             opened.push_back(url);
                                             return urlsOpen;
                                         },
                                         [this] { ++quits; }, version, "feedback@example.org",
                                         [] { return std::optional<QUrl>(QUrl("file:///run/help.html")); }, corrections};
        services.localCorrector = localCorrector;
        services.clicksWatched = clicksWatched;
        panel = std::make_unique<ui::MenuBarView>(*core.coordinator, preferences, std::move(services));
        settle();
    }

    // Runs everything due, moving virtual time until nothing is left.
    void settle() { ex.runUntil([] { return false; }); }

    // Opens the panel as the active popup, so that keys reach it.
    void open() {
        panel->popUpAt({}, {200, 200});
        QApplication::setActiveWindow(panel.get());
        QApplication::processEvents();
    }

    template <class W = QWidget>
    W* find(const char* name) {
        auto* w = panel->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    bool shown(const char* name) { return find(name)->isVisibleTo(panel.get()); }
    QString text(const char* name) { return find<QLabel>(name)->text(); }
    QColor colour(const char* name) { return find(name)->palette().color(QPalette::WindowText); }

    // The combinations armed with the hot-key service now.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> armed() const {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const auto& [handle, r] : core.hotKeyService.active) out.emplace_back(r.keyCode, r.modifiers);
        return out;
    }
};

}  // namespace quillant::testing
