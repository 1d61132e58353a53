// The panel on the coordinator's substitutes: which rows show with which
// texts and colours, the key field's save and clear, and the hotkey recorder
// driven through the Qt key-down monitor with real key events.
#include <QScreen>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "PanelHarness.h"
#include "app/Updater.h"
#include "testsupport/TempDir.h"
#include "ui/SecretField.h"
#include "ui/TrayIcon.h"

using namespace quillant;
using namespace quillant::testing;
using app::BackendStatus;
using namespace std::chrono_literals;

namespace {

const QColor kGreen = ui::colours::green();
const QColor kRed = ui::colours::red();
const QColor kOrange = ui::colours::orange();

FakeHttpSession::Reply validation(BackendStatus wanted) {
    switch (wanted) {
    case BackendStatus::connected: return FakeHttpSession::answer(200, R"({"valid":true})");
    case BackendStatus::invalid: return FakeHttpSession::answer(401, R"({"error":"invalid_key"})");
    case BackendStatus::offline:
        return FakeHttpSession::failure(backend::TransportError::Kind::cannotConnect, "Could not connect");
    default: return FakeHttpSession::hanging();
    }
}

}  // namespace

TEST(Panel, ShowsTheRowsOfEachKeyStateAndUpdateState) {
    struct Case {
        BackendStatus status;
        bool update;
        bool prompt;
        const char* title;    // prompt only
        const char* message;  // prompt only
        bool redMessage;
        bool clearSavedKey;
        const char* word;  // key section only
        std::optional<QColor> wordColour;
    };
    const Case cases[] = {
        {BackendStatus::absent, false, true, "Enter your API key",
         "quillant needs an API key to fix text. Paste yours below.", false, false, "", {}},
        {BackendStatus::absent, true, true, "Enter your API key",
         "quillant needs an API key to fix text. Paste yours below.", false, false, "", {}},
        {BackendStatus::invalid, false, true, "API key rejected",
         "The saved key was rejected by the backend. Paste a new key below.", true, true, "", {}},
        {BackendStatus::checking, false, false, "", "", false, false, "Checking…", {}},
        {BackendStatus::connected, true, false, "", "", false, false, "Connected", kGreen},
        {BackendStatus::offline, false, false, "", "", false, false, "Offline", kOrange},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(app::caseName(c.status)) + (c.update ? " with update" : ""));
        PanelHarness h;
        h.setValidation(validation(c.status));
        if (c.update)
            h.setVersion(FakeHttpSession::answer(
                200, R"({"version":"2.0.1","download_url":"https://fix.example/quillant-2.0.1.zip"})"));
        h.start(c.status == BackendStatus::absent ? std::nullopt : std::optional<std::string>("ql_stored"));
        ASSERT_EQ(h.coordinator()->backendStatus.get(), c.status);

        EXPECT_EQ(h.shown("updateBanner"), c.update);
        if (c.update) { EXPECT_EQ(h.text("updateText"), "Update available (2.0.1)"); }
        EXPECT_EQ(h.shown("keyPrompt"), c.prompt);
        // With no usable key: no hotkey row, no key section; the help row, under either.
        EXPECT_EQ(h.shown("keyedSection"), !c.prompt);
        EXPECT_TRUE(h.shown("accessibilityRow"));
        EXPECT_EQ(h.find<ui::MenuItemRow>("accessibilityRow")->text(), "Help: what this desktop allows…");
        EXPECT_EQ(h.shown("quitRow"), true);
        EXPECT_EQ(h.shown("feedbackRow"), true);
        if (c.prompt) {
            EXPECT_EQ(h.text("promptTitle"), c.title);
            EXPECT_EQ(h.text("promptMessage"), c.message);
            EXPECT_EQ(h.colour("promptMessage") == kRed, c.redMessage);
            EXPECT_EQ(h.shown("clearSavedKeyButton"), c.clearSavedKey);
            EXPECT_EQ(h.find<ui::SecretField>("promptField")->placeholderText(), "ql_…");
        } else {
            EXPECT_EQ(h.text("hotkeyText"), "Alt+Shift+G");
            EXPECT_EQ(h.text("keyStatus"), c.word);
            if (c.wordColour) { EXPECT_EQ(h.colour("keyStatus"), *c.wordColour); }
            EXPECT_EQ(h.find<ui::SecretField>("replaceField")->placeholderText(), "Replace key…");
        }
        EXPECT_EQ(h.panel->width(), ui::MenuBarView::kWidth);
    }
}

// With the local corrector the key is quillant's own: whatever the service
// says of it, there is no prompt and no key field, only whether it answers.
TEST(Panel, WithTheLocalCorrectorNeverAsksForAKey) {
    const std::pair<BackendStatus, const char*> cases[] = {{BackendStatus::checking, "Checking…"},
                                                           {BackendStatus::connected, "Connected"},
                                                           {BackendStatus::offline, "Offline"},
                                                           {BackendStatus::invalid, "Invalid"}};
    for (const auto& [status, word] : cases) {
        SCOPED_TRACE(std::string(app::caseName(status)));
        PanelHarness h;
        h.localCorrector = true;
        h.setValidation(validation(status));
        h.start(std::optional<std::string>("qk_local"));
        ASSERT_EQ(h.coordinator()->backendStatus.get(), status);
        EXPECT_FALSE(h.shown("keyPrompt"));
        EXPECT_TRUE(h.shown("keyedSection"));
        EXPECT_EQ(h.text("keyTitle"), "Local corrector");
        EXPECT_EQ(h.text("keyStatus"), word);
        for (const char* editing : {"replaceField", "keySaveButton", "keyClearButton"}) EXPECT_FALSE(h.shown(editing)) << editing;
    }
}

TEST(Panel, FollowsTheKeyStateAsItChanges) {
    PanelHarness h;
    h.start();
    EXPECT_TRUE(h.shown("keyPrompt"));
    h.setValidation(FakeHttpSession::answer(401, R"({"error":"invalid_key"})"));
    auto* field = h.find<ui::SecretField>("promptField");
    QTest::keyClicks(field, "ql_wrong");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(h.shown("keyedSection"));
    EXPECT_EQ(h.text("keyStatus"), "Checking…");
    h.settle();
    // The rejected key brings the prompt back, red, with its clear button.
    EXPECT_TRUE(h.shown("keyPrompt"));
    EXPECT_EQ(h.text("promptTitle"), "API key rejected");
    EXPECT_TRUE(h.shown("clearSavedKeyButton"));
}

TEST(Panel, SavesOnlyANonBlankKeyAndSaysWhenSavingFailed) {
    struct Case {
        const char* name;
        const char* typed;
        bool viaReturn;
        bool unwritableHome;
        bool saveEnabled;
        std::optional<std::string> stored;
        std::optional<std::string> feedback;
        bool inputKept;
    };
    const Case cases[] = {
        {"key with spaces, Save", "  ql_abc \t", false, false, true, "ql_abc", std::nullopt, false},
        {"key, Return", "ql_def", true, false, true, "ql_def", std::nullopt, false},
        {"only blanks, Return", "  \t ", true, false, false, std::nullopt, std::nullopt, true},
        {"store fails", "ql_ghi", false, true, true, std::nullopt, "Failed to save key", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PanelHarness h;
        h.start();
        h.open();
        if (c.unwritableHome) {
            // The token's folder cannot be made: a file stands in its way.
            std::filesystem::create_directories(h.home() / ".config");
            std::ofstream(h.home() / ".config" / "quillant") << "in the way";
        }
        auto* field = h.find<ui::SecretField>("promptField");
        auto* save = h.find<QPushButton>("promptSaveButton");
        EXPECT_FALSE(save->isEnabled());
        QTest::keyClicks(field, c.typed);
        EXPECT_EQ(save->isEnabled(), c.saveEnabled);
        if (c.viaReturn)
            QTest::keyClick(field, Qt::Key_Return);
        else
            save->click();
        EXPECT_EQ(h.tokens.load(), c.stored);
        EXPECT_EQ(h.panel->tokenFeedback(), c.feedback);
        EXPECT_EQ(!h.panel->tokenInput().empty(), c.inputKept);
        if (c.feedback) {
            EXPECT_TRUE(h.shown("promptFeedback"));
            EXPECT_EQ(h.text("promptFeedback"), QString::fromStdString(*c.feedback));
            EXPECT_EQ(h.colour("promptFeedback"), kOrange);
        } else {
            EXPECT_FALSE(h.shown("promptFeedback"));
        }
        if (!c.inputKept) { EXPECT_TRUE(field->text().isEmpty()); }
    }
}

TEST(Panel, ClearForgetsTheKeyFromEitherSection) {
    for (BackendStatus status : {BackendStatus::connected, BackendStatus::invalid}) {
        SCOPED_TRACE(std::string(app::caseName(status)));
        PanelHarness h;
        h.setValidation(validation(status));
        h.start("ql_stored");
        ASSERT_EQ(h.coordinator()->backendStatus.get(), status);
        QTest::keyClicks(h.find<ui::SecretField>(status == BackendStatus::invalid ? "promptField" : "replaceField"),
                         "half typed");
        h.find<QPushButton>(status == BackendStatus::invalid ? "clearSavedKeyButton" : "keyClearButton")->click();
        EXPECT_EQ(h.coordinator()->backendStatus.get(), BackendStatus::absent);
        EXPECT_EQ(h.tokens.load(), std::nullopt);
        EXPECT_TRUE(h.panel->tokenInput().empty());
        EXPECT_TRUE(h.shown("keyPrompt"));
        EXPECT_EQ(h.text("promptTitle"), "Enter your API key");
    }
}

TEST(Panel, ReplacingAKeyInTheKeySectionSavesIt) {
    PanelHarness h;
    h.start("ql_old");
    auto* field = h.find<ui::SecretField>("replaceField");
    EXPECT_FALSE(h.find<QPushButton>("keySaveButton")->isEnabled());
    QTest::keyClicks(field, "ql_new");
    h.find<QPushButton>("keySaveButton")->click();
    EXPECT_EQ(h.tokens.load(), "ql_new");
    EXPECT_EQ(h.text("keyStatus"), "Checking…");
    h.settle();
    EXPECT_EQ(h.text("keyStatus"), "Connected");
}

TEST(Panel, ClosingForgetsTheTypedKey) {
    for (bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "clicked elsewhere");
        PanelHarness h;
        h.start();
        h.open();
        auto* field = h.find<ui::SecretField>("promptField");
        QTest::keyClicks(field, "ql_unsaved");
        if (escape)
            QTest::keyClick(field, Qt::Key_Escape);
        else
            h.panel->hide();
        EXPECT_FALSE(h.panel->isVisible());
        EXPECT_TRUE(h.panel->tokenInput().empty());
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_FALSE(h.find<QPushButton>("promptSaveButton")->isEnabled());
        EXPECT_EQ(h.tokens.load(), std::nullopt);
    }
}

// --- the hotkey row ---

namespace {

struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};

}  // namespace

TEST(PanelRecorder, ChangeRecordsThroughTheKeyDownMonitor) {
    const auto alt = Qt::AltModifier, ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
    struct Case {
        const char* name;
        std::vector<Key> keys;
        bool stillRecording;
        std::optional<std::pair<std::uint32_t, std::uint32_t>> newHotkey;  // key code, mask
        const char* display;
        std::optional<std::string> error;
        int quits = 0;
    };
    const std::string linuxMessage = "Add Ctrl, Alt or Super — Shift alone isn't enough.";
    const std::string unusable(hotkey::HotkeyRecorder::unusableKeyMessage);
    const Case cases[] = {
        {"ctrl alt K", {{Qt::Key_K, ctrl | alt}}, false, std::pair{40u, 6144u}, "Ctrl+Alt+K", {}},
        // Ctrl goes down first, as a person presses it: it is no key of its own.
        {"ctrl first, then ctrl alt K",
         {{Qt::Key_Control, ctrl}, {Qt::Key_Alt, ctrl | alt}, {Qt::Key_K, ctrl | alt}},
         false, std::pair{40u, 6144u}, "Ctrl+Alt+K", {}},
        {"a modifier alone", {{Qt::Key_Control, ctrl}, {Qt::Key_Shift, ctrl | shift}}, true, {}, "Press combo… (Esc)",
         {}},
        // The panel's own shortcut does not fire while recording: it is recorded.
        {"ctrl Q is recorded, not obeyed", {{Qt::Key_Q, ctrl}}, false, std::pair{12u, 4096u}, "Ctrl+Q", {}, 0},
        {"K alone", {{Qt::Key_K, Qt::NoModifier}}, true, {}, "Press combo… (Esc)", linuxMessage},
        // The complaint goes with the capture that caused it.
        {"shift K, then super K", {{Qt::Key_K, shift}, {Qt::Key_K, Qt::MetaModifier}}, false, std::pair{40u, 256u},
         "Super+K", {}},
        {"shift K, then escape", {{Qt::Key_K, shift}, {Qt::Key_Escape, Qt::NoModifier}}, false, {}, "Alt+Shift+G", {}},
        {"a key outside the key table", {{Qt::Key_Adiaeresis, ctrl}}, true, {}, "Press combo… (Esc)", unusable},
        {"escape", {{Qt::Key_Escape, Qt::NoModifier}}, false, {}, "Alt+Shift+G", {}},
        {"tab does not move the focus away", {{Qt::Key_Tab, ctrl}}, false, std::pair{48u, 4096u}, "Ctrl+Tab", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PanelHarness h;
        h.start("ql_stored");
        h.open();
        ASSERT_EQ(h.armed(), (decltype(h.armed()){{5u, 2560u}}));
        auto* change = h.find<QPushButton>("changeButton");
        change->click();
        // Recording: the old hotkey is dropped so that it cannot fire.
        EXPECT_TRUE(h.armed().empty());
        EXPECT_EQ(h.text("hotkeyText"), "Press combo… (Esc)");
        EXPECT_EQ(h.colour("hotkeyText"), ui::colours::accent(*h.panel));
        EXPECT_EQ(change->text(), "Cancel");

        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : h.panel.get();
        for (const auto& k : c.keys) QTest::keyClick(target, k.key, k.modifiers);
        h.settle();

        EXPECT_EQ(h.panel->recorder().isRecording.get(), c.stillRecording);
        EXPECT_EQ(h.text("hotkeyText"), c.display);
        EXPECT_EQ(h.panel->recorder().lastError.get(), c.error);
        EXPECT_EQ(h.shown("recorderError"), c.error.has_value());
        EXPECT_EQ(h.quits, c.quits);
        EXPECT_TRUE(h.panel->isVisible()) << "the panel stays open";
        if (c.stillRecording) {
            EXPECT_TRUE(h.armed().empty());
        } else if (c.newHotkey) {
            EXPECT_EQ(h.armed(), (decltype(h.armed()){*c.newHotkey}));
            EXPECT_EQ(h.preferences.hotkeyCombo.get(), hotkey::KeyCombo(c.newHotkey->first, c.newHotkey->second));
            EXPECT_TRUE(h.logs.contains("hotkey updated to " + std::string(c.display)));
        } else {
            // Ended by Escape: the saved hotkey is armed again.
            EXPECT_EQ(h.armed(), (decltype(h.armed()){{5u, 2560u}}));
            EXPECT_TRUE(h.logs.contains("hotkey re-armed: Alt+Shift+G"));
        }
    }
}

TEST(PanelRecorder, CancelAndClosingStopTheCaptureAndReArmTheSavedHotkey) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "panel closed" : "Cancel");
        PanelHarness h;
        h.start("ql_stored");
        h.open();
        h.find<QPushButton>("changeButton")->click();
        ASSERT_TRUE(h.panel->recorder().isRecording.get());
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : h.panel.get(), Qt::Key_K);
        h.settle();
        ASSERT_TRUE(h.shown("recorderError"));
        if (close)
            h.panel->hide();
        else
            h.find<QPushButton>("changeButton")->click();
        EXPECT_FALSE(h.panel->recorder().isRecording.get());
        EXPECT_EQ(h.armed(), (decltype(h.armed()){{5u, 2560u}}));
        EXPECT_EQ(h.text("hotkeyText"), "Alt+Shift+G");
        EXPECT_EQ(h.find<QPushButton>("changeButton")->text(), "Change");
        EXPECT_FALSE(h.panel->recorder().lastError.get().has_value());
        EXPECT_FALSE(h.shown("recorderError"));
        // Keys are the application's own again.
        auto* field = h.find<ui::SecretField>("replaceField");
        QTest::keyClicks(field, "abc");
        EXPECT_EQ(field->text(), close ? "abc" : "abc");
        EXPECT_EQ(h.preferences.hotkeyCombo.get(), hotkey::Preferences::defaultHotkey());
    }
}

TEST(Panel, FooterActions) {
    PanelHarness h;
    h.start("ql_stored");
    h.open();
    EXPECT_EQ(h.text("versionText"), "v1.4.0");
    // The rows that hand over to another program close the panel.
    h.find<ui::MenuItemRow>("feedbackRow")->click();
    ASSERT_EQ(h.opened.size(), 1u);
    EXPECT_EQ(h.opened[0].scheme(), "mailto");
    EXPECT_EQ(h.opened[0].path(), "feedback@example.org");
    EXPECT_FALSE(h.panel->isVisible());
    h.open();
    h.find<ui::MenuItemRow>("accessibilityRow")->click();
    ASSERT_EQ(h.opened.size(), 2u);
    EXPECT_EQ(h.opened[1], QUrl("file:///run/help.html"));
    EXPECT_FALSE(h.panel->isVisible());
    // Where the desktop cannot open it, the panel stays and says where the page is.
    h.urlsOpen = false;
    h.open();
    EXPECT_FALSE(h.shown("helpNote"));
    h.find<ui::MenuItemRow>("accessibilityRow")->click();
    EXPECT_TRUE(h.panel->isVisible());
    EXPECT_TRUE(h.shown("helpNote"));
    EXPECT_TRUE(h.text("helpNote").contains("/run/help.html")) << h.text("helpNote").toStdString();
    h.find<ui::MenuItemRow>("quitRow")->click();
    EXPECT_EQ(h.quits, 1);
    QTest::keyClick(h.find<ui::SecretField>("replaceField"), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(h.quits, 2);
}

TEST(Panel, VersionReadsQuestionMarkWhenUnknown) {
    for (std::optional<std::string> version : {std::optional<std::string>(), std::optional<std::string>("")}) {
        PanelHarness h;
        h.version = version;
        h.start();
        EXPECT_EQ(h.text("versionText"), "v?");
    }
}

TEST(Panel, InstallCallsTheUpdater) {
    PanelHarness h;
    h.setVersion(FakeHttpSession::answer(200, R"({"version":"2.0.1","download_url":"https://fix.example/q.zip"})"));
    h.start("ql_stored");
    ASSERT_TRUE(h.shown("updateBanner"));
    h.find<QPushButton>("installButton")->click();
    h.settle();
    // The substitute's bundle is no installation of ours, so the updater stops there.
    EXPECT_TRUE(h.logs.contains("update failed: not a self-contained installation"));
}

TEST(Panel, InstallRunsOnceAtATimeAndTheBannerFollowsIt) {
    PanelHarness h;
    h.setVersion(FakeHttpSession::answer(200, R"({"version":"2.0.1","download_url":"https://fix.example/q.zip"})"));
    // An installation of ours, and a key to check the release with.
    TempDir root;
    h.core.update.bundle = root.path() / "quillant";
    h.core.update.tempDir = root.path() / "tmp";
    std::filesystem::create_directories(h.core.update.bundle);
    std::ofstream(h.core.update.bundle / app::Updater::kBundleMarker);
    h.core.updatePublicKey = "RWQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
    h.start("ql_stored");
    h.open();
    // The download takes a while, and then fails.
    h.http().setResponder([](const backend::HttpRequest&) {
        return FakeHttpSession::failure(backend::TransportError::Kind::timedOut, "Timed out", std::chrono::seconds(30));
    });
    auto downloads = [&] {
        std::vector<const FakeHttpSession::Recorded*> out;
        for (const auto& r : h.http().requests())
            if (r.destination) out.push_back(&r);
        return out;
    };
    auto* install = h.find<QPushButton>("installButton");
    install->click();
    h.ex.runUntilIdle();
    ASSERT_EQ(downloads().size(), 1u);
    EXPECT_FALSE(install->isEnabled());
    install->click();
    h.ex.runUntilIdle();
    EXPECT_EQ(downloads().size(), 1u) << "one download at a time";

    ASSERT_TRUE(downloads()[0]->request.progress);
    downloads()[0]->request.progress(450, 1000);
    EXPECT_EQ(h.text("updateText"), "Downloading update… 45 %");
    h.settle();
    EXPECT_EQ(h.text("updateText"), "Update failed — try again");
    EXPECT_TRUE(install->isEnabled());
}

TEST(Panel, IsExactlyAsTallAsWhatItShows) {
    PanelHarness h;
    h.start("ql_stored");
    const int connected = h.panel->height();
    h.find<QPushButton>("changeButton")->click();
    h.find<QPushButton>("changeButton")->click();
    EXPECT_EQ(h.panel->height(), connected) << "a row that was never shown took room";

    QTest::keyClicks(h.find<ui::SecretField>("replaceField"), "ql_next");
    std::filesystem::remove(h.home() / ".config" / "quillant" / "token");
    std::filesystem::remove(h.home() / ".config" / "quillant");
    std::ofstream(h.home() / ".config" / "quillant") << "in the way";
    h.find<QPushButton>("keySaveButton")->click();
    ASSERT_TRUE(h.shown("keyFeedback"));
    EXPECT_GT(h.panel->height(), connected);
    h.open();
    h.panel->hide();
    EXPECT_EQ(h.panel->height(), connected);
}

// --- what the panel and the tray tell of the last fix and of the hotkey ---

TEST(Panel, TheLastFixsOutcomeShowsUnderTheHotkeyAndInTheTraysTooltip) {
    struct Case {
        const char* name;
        const char* copied;
        FakeHttpSession::Reply answer;
        const char* outcome;
        bool failed;
    };
    const Case cases[] = {
        {"replaced", "teh cat", FakeHttpSession::answer(200, R"({"corrected":"the cat"})"), "Replaced (7 → 7 chars)",
         false},
        {"unchanged", "the cat", FakeHttpSession::answer(200, R"({"corrected":"the cat"})"), "No changes", false},
        {"refused: empty selection", "", FakeHttpSession::answer(200, R"({"corrected":"x"})"), "Empty selection", true},
        {"failed: quota", "teh cat",
         FakeHttpSession::answer(429, R"({"error":"quota","message":"m","reset_at":"tomorrow 9:00"})"),
         "Quota reached, resets tomorrow 9:00", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PanelHarness h;
        h.start("ql_stored");
        // No bus: the tooltip is the icon's own, whichever tray would show it.
        ui::TrayIcon tray(h.ex, *h.coordinator(), h.logs, ui::TrayIcon::Options{.busAddress = "unix:path=/nonexistent"});
        h.open();
        EXPECT_FALSE(h.shown("outcomeText")) << "nothing before the first fix";
        h.core.appCopies(c.copied);
        h.core.fixReplies.push_back(c.answer);
        h.core.pressAndSettle();
        h.settle();
        ASSERT_TRUE(h.shown("outcomeText"));
        EXPECT_EQ(h.text("outcomeText"), QString::fromUtf8(c.outcome));
        EXPECT_EQ(h.colour("outcomeText"), c.failed ? kOrange : ui::colours::secondaryText(*h.panel));
        EXPECT_EQ(tray.toolTip(), QString::fromUtf8("quillant — ") + QString::fromUtf8(c.outcome));
        // The glyph's flash is over; the line stays until the next fix.
        EXPECT_EQ(h.coordinator()->menuBarState.get(), app::MenuBarState::idle);
        EXPECT_TRUE(h.shown("outcomeText"));
    }
}

TEST(Panel, AHotkeyThatIsNotArmedSaysSoAndWhatToDo) {
    PanelHarness h;
    // Another program holds Alt+Shift+G.
    h.hotKeyService.refuse = [](const FakeHotKeyService::Registration& r) { return r.keyCode == 5; };
    h.start("ql_stored");
    h.open();
    EXPECT_TRUE(h.logs.contains(
        "quillant started; hotkey Alt+Shift+G not armed (another program holds it); status=checking"));
    EXPECT_FALSE(h.logs.contains("Alt+Shift+G armed"));
    EXPECT_EQ(h.text("hotkeyText"), "Alt+Shift+G");
    EXPECT_EQ(h.colour("hotkeyText"), kOrange);
    ASSERT_TRUE(h.shown("hotkeyNote"));
    EXPECT_EQ(h.text("hotkeyNote"), "Not armed: another program holds it — choose another combination");

    // Another combination is taken: the row is an ordinary one again.
    h.find<QPushButton>("changeButton")->click();
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : h.panel.get(), Qt::Key_K,
                    Qt::ControlModifier | Qt::AltModifier);
    h.settle();
    EXPECT_EQ(h.text("hotkeyText"), "Ctrl+Alt+K");
    EXPECT_EQ(h.colour("hotkeyText"), ui::colours::primaryText(*h.panel));
    EXPECT_FALSE(h.shown("hotkeyNote"));
}

TEST(Panel, ShowsTheTriggerTheDesktopReports) {
    PanelHarness h;
    h.core.hotkeyArming = [](bool, const std::string&) { return app::HotkeyArming{true, "Ctrl+Alt+F", {}, {}}; };
    h.start("ql_stored");
    EXPECT_EQ(h.text("hotkeyText"), "Ctrl+Alt+F");
    EXPECT_TRUE(h.logs.contains("quillant started; hotkey Ctrl+Alt+F armed; status=checking"));
}

TEST(Panel, TheFieldThatMattersHasTheFocusAndReturnSavesOnce) {
    PanelHarness h;
    h.start("ql_stored");
    h.open();
    EXPECT_EQ(QApplication::focusWidget(), h.find<ui::SecretField>("replaceField")) << "opened with a key";
    h.find<QPushButton>("keyClearButton")->click();
    EXPECT_EQ(QApplication::focusWidget(), h.find<ui::SecretField>("promptField")) << "after Clear";

    // Saving fails (a file stands where the key's folder goes): Return tries once.
    std::filesystem::create_directories(h.home() / ".config");
    std::filesystem::remove_all(h.home() / ".config" / "quillant");
    std::ofstream(h.home() / ".config" / "quillant") << "in the way";
    QTest::keyClicks(QApplication::focusWidget(), "ql_new");
    h.logs.clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    int attempts = 0;
    for (const auto& m : h.logs.messages()) attempts += m == "saving API key failed";
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(h.panel->tokenFeedback(), "Failed to save key");
}

TEST(Panel, StaysWholeOnScreenWhenItGrowsWhileOpen) {
    PanelHarness h;
    h.start("ql_stored");
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // An icon in a tray at the bottom: the panel opens above it.
    const QRect icon(screen.right() - 30, screen.bottom() - 22, 22, 22);
    h.panel->popUpAt(icon, icon.center());
    QApplication::setActiveWindow(h.panel.get());
    const int before = h.panel->height();
    h.find<QPushButton>("changeButton")->click();
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : h.panel.get(), Qt::Key_K);
    h.settle();
    ASSERT_GT(h.panel->height(), before) << "the recorder's message makes it taller";
    const QRect now = h.panel->geometry();
    EXPECT_TRUE(screen.contains(now)) << now.x() << "," << now.y() << " " << now.width() << "x" << now.height();
    EXPECT_LE(now.bottom(), icon.top()) << "clear of the tray";
}

// A click on the icon toggles the panel. The press of that click may be heard
// as a press outside before the icon's activation comes (a StatusNotifierItem
// host asks on release): it closed the panel, and must not open it again.
TEST(Panel, TheIconTogglesThePanelAndItsOwnPressDoesNotReopenIt) {
    struct Case {
        const char* what;
        QRect icon;  // empty: the host does not tell where the icon is
        QPoint press;
        std::chrono::milliseconds later;
        bool opens;
    };
    widgetApp();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect trayIcon(screen.right() - 30, screen.top(), 22, 22);
    const QPoint elsewhere(screen.right() - 20, screen.bottom() - 20);
    for (const auto& c : std::vector<Case>{
             {"the host's icon, asking on release", {}, trayIcon.center(), 150ms, false},
             {"a click elsewhere, the icon long after", {}, elsewhere, 2s, true},
             {"the XEmbed icon, its press heard first", trayIcon, trayIcon.center(), 10ms, false},
             {"a click elsewhere, at once the XEmbed icon", trayIcon, elsewhere, 10ms, true},
         }) {
        SCOPED_TRACE(c.what);
        PanelHarness h;
        h.clicksWatched = true;
        h.start("ql_stored");
        // Opened by a later start, at the pointer.
        h.panel->popUpAt({}, screen.topLeft() + QPoint(80, 80));
        ASSERT_TRUE(h.panel->isVisible());
        h.panel->pointerPressedAt(c.press);
        ASSERT_FALSE(h.panel->isVisible());
        h.ex.advance(c.later);
        h.panel->iconActivated(c.icon, c.press);
        EXPECT_EQ(h.panel->isVisible(), c.opens);
        h.panel->iconActivated(c.icon, c.press);
        EXPECT_NE(h.panel->isVisible(), c.opens) << "the next click toggles";
    }
    // As a popup (no clicks heard elsewhere) Qt closes the panel on that press itself.
    PanelHarness h;
    h.start("ql_stored");
    h.panel->iconActivated({}, screen.center());
    ASSERT_TRUE(h.panel->isVisible());
    h.panel->close();
    h.ex.advance(150ms);
    h.panel->iconActivated({}, screen.center());
    EXPECT_FALSE(h.panel->isVisible()) << "the popup's closing click opened it again";
}
