#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppCoordinator.h"
#include "clipboard/KeyEventSynth.h"
#include "clipboard/PasteboardBroker.h"
#include "credentials/TokenStore.h"
#include "hotkey/HotKeysController.h"
#include "hotkey/Preferences.h"
#include "platform/linux/qt/QtKeyDownMonitor.h"
#include "runtime/VirtualExecutor.h"
#include "testsupport/FakeAccessibilityGate.h"
#include "testsupport/FakeDefaultsStore.h"
#include "testsupport/FakeHotKeyService.h"
#include "testsupport/FakeHttpSession.h"
#include "testsupport/FakeKeyEventPoster.h"
#include "testsupport/FakePasteboard.h"
#include "testsupport/FakeUpdateEnvironment.h"
#include "testsupport/RecordingLogger.h"
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

// A private temporary directory, removed again.
struct PanelTempDir {
    std::filesystem::path path;
    PanelTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillant-panel-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~PanelTempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path, ec);
    }
};

// The panel over the real coordinator on substitutes, in virtual time, with
// the real Qt key-down monitor; the token store is real, in a temporary home.
struct PanelHarness {
    QApplication& qt = widgetApp();
    VirtualExecutor ex;
    RecordingLogger logs;
    FakeAccessibilityGate accessibility;
    FakePasteboard board;
    FakeKeyEventPoster poster;
    clipboard::KeyEventSynth synth{poster};
    clipboard::PasteboardBroker broker{board, synth, clipboard::PasteboardProfile::linuxX11()};
    PanelTempDir home;
    credentials::TokenStore tokens{home.path};
    FakeDefaultsStore defaults;
    hotkey::Preferences preferences{defaults, hotkey::ShortcutStyle::linuxWords};
    FakeHotKeyService hotKeyService;
    hotkey::HotKeysController hotKeys{hotKeyService};
    std::shared_ptr<FakeHttpSession> http = std::make_shared<FakeHttpSession>(ex);
    InlineWorkRunner runner;
    FakeUpdateEnvironment update;
    linux_platform::QtKeyDownMonitor keyDownMonitor;
    std::unique_ptr<app::AppCoordinator> coordinator;
    std::unique_ptr<ui::MenuBarView> panel;

    FakeHttpSession::Reply validateReply = FakeHttpSession::answer(200, R"({"valid":true})");
    FakeHttpSession::Reply versionReply = FakeHttpSession::answer(404, "not found");

    std::vector<QUrl> opened;
    int quits = 0;
    std::optional<std::string> version = "1.4.0";

    PanelHarness() {
        http->setResponder([this](const backend::HttpRequest& r) {
            if (r.url.ends_with("/v1/validate")) return validateReply;
            if (r.url.ends_with("/v1/version")) return versionReply;
            return FakeHttpSession::failure(backend::TransportError::Kind::cannotConnect, "Could not connect");
        });
    }
    ~PanelHarness() {
        panel.reset();
        coordinator.reset();
        http->abandonPending();
    }

    void start(std::optional<std::string> storedKey = std::nullopt) {
        if (storedKey) { EXPECT_TRUE(tokens.save(*storedKey)); }
        coordinator = std::make_unique<app::AppCoordinator>(app::CoordinatorServices{
            ex, logs, accessibility, broker, synth, tokens, preferences, hotKeys, http, "https://fix.example",
            runner, update, "1.4.0"});
        panel = std::make_unique<ui::MenuBarView>(
            *coordinator, preferences,
            ui::MenuBarViewServices{keyDownMonitor, ex, [this](const QUrl& url) { opened.push_back(url); },
                                    [this] { ++quits; }, version, "feedback@example.org",
                                    [] { return std::optional<QUrl>(QUrl("file:///run/help.html")); }});
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
        for (const auto& [handle, r] : hotKeyService.active) out.emplace_back(r.keyCode, r.modifiers);
        return out;
    }
};

}  // namespace quillant::testing
