#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/AccessibilityGate.h"
#include "app/AppState.h"
#include "app/UpdateEnvironment.h"
#include "app/Updater.h"
#include "backend/BackendClient.h"
#include "backend/HttpSession.h"
#include "clipboard/ApplicationChords.h"
#include "clipboard/FocusInspector.h"
#include "clipboard/KeyEventSynth.h"
#include "clipboard/PasteboardBroker.h"
#include "credentials/TokenStore.h"
#include "hotkey/HotkeyManager.h"
#include "hotkey/Preferences.h"
#include "runtime/Executor.h"
#include "runtime/Logger.h"
#include "runtime/Observable.h"
#include "runtime/Task.h"

namespace quillant::app {

// Everything the coordinator works with, supplied by the program's entry
// (or by a test). References must outlive the coordinator.
struct CoordinatorServices {
    Executor& executor;
    Logger& logSink;
    AccessibilityGate& accessibility;
    clipboard::PasteboardBroker& pasteboard;
    clipboard::KeyEventSynth& keystrokes;
    credentials::TokenStore& tokenStore;
    hotkey::Preferences& preferences;
    hotkey::HotKeysController& hotKeys;
    std::shared_ptr<backend::HttpSession> session;
    std::string baseURL;
    WorkRunner& workRunner;
    UpdateEnvironment& update;
    std::string runningVersion;  // empty: unknown
    // Which application has the focus; none: unknown, every application
    // gets Ctrl+C/V and the focus is not checked before the paste.
    clipboard::FocusInspector* focus = nullptr;
    // Where the user's per-application chords live (ApplicationChords::settingsKey); none: built-ins only.
    hotkey::DefaultsStore* settings = nullptr;
    // The key an update's signature must be made with (ReleasePublicKey's form); none: no update is installed.
    std::string updatePublicKey;
    // Called as a fix begins, before the selection is copied: a service that
    // starts on demand gets going while the user lets go of the keys.
    std::function<void()> fixStarting;
    // What the session says about the hotkey, asked after each registration
    // with whether the hot-key service took it and how the combination is
    // written. None: taken means armed, refused means another program holds it.
    std::function<HotkeyArming(bool registered, const std::string& display)> hotkeyArming;
};

// The single controller: observable state, start-up, the fix flow, the API
// key's lifecycle, and the entry to the self-update (the Updater does it). Main thread only.
class AppCoordinator : public ObservableObject {
public:
    explicit AppCoordinator(CoordinatorServices services);
    ~AppCoordinator();
    AppCoordinator(const AppCoordinator&) = delete;
    AppCoordinator& operator=(const AppCoordinator&) = delete;

    Published<BackendStatus> backendStatus{*this, BackendStatus::absent};
    Published<std::string> lastStatus{*this, std::string()};
    // The service's note on the last fix that had one (a model that failed and
    // was answered offline); cleared by a fix without one. The panel's
    // Corrections row shows it.
    Published<std::string> correctionsNote{*this, std::string()};
    // How the last fix ended; none before the first. The panel and the
    // desktop's notifications show it.
    Published<std::optional<FixOutcome>> lastOutcome{*this, std::nullopt};
    // Whether the hotkey works now.
    Published<HotkeyArming> hotkeyArming{*this, HotkeyArming{}};
    Published<bool> isRunning{*this, false};
    Published<MenuBarState> menuBarState{*this, MenuBarState::idle};
    Published<bool> updateAvailable{*this, false};
    Published<std::string> updateVersion{*this, std::string()};
    Published<std::optional<std::string>> updateDownloadURL{*this, std::nullopt};
    // An update is being installed: one at a time.
    Published<bool> isUpdating{*this, false};
    // What the update's run says last (its progress, its failure, the restart); empty before one.
    Published<std::string> updateStatus{*this, std::string()};

    static constexpr std::size_t maxSelectionChars = 1500;

    Task<void> runFixFlow();
    // A press of the hotkey, from the key grab or handed over by the command
    // line (`quillant trigger`): starts a fix run.
    void hotkeyPressed();
    bool saveBackendToken(const std::string& token);
    void clearBackendToken();
    void resumeHotkey();
    void applyNewHotkey(const hotkey::KeyCombo& combo);
    void installUpdate();
    // Asks again whether the hotkey is armed (the desktop answered later).
    void refreshHotkeyArming();

    // The armed hotkey's holder; the panel drops the hotkey while recording.
    hotkey::HotkeyManager* hotkey() { return hotkey_.get(); }
    hotkey::Preferences& preferences() { return services_.preferences; }
    const std::optional<backend::BackendClient>& transformer() const { return transformer_; }

private:
    // The chord table in force: the built-in entries and the user's.
    clipboard::ApplicationChords applicationChords() const;
    void flashState(MenuBarState state, Duration duration);
    void endFix(bool failed);
    std::optional<clipboard::FocusedApplication> focusedApplication() const;
    void refuseChord(const clipboard::FocusedApplication& application, const clipboard::ChordDecision& decision);
    void restoreInterruptedRun();
    void revalidateToken();
    Task<void> checkForUpdate();
    Task<void> runUpdate(std::string url);
    backend::BackendClient makeClient(const std::string& token) const;
    std::string runningVersion() const;

    CoordinatorServices services_;
    CategoryLogger log_;
    Updater updater_;
    std::unique_ptr<hotkey::HotkeyManager> hotkey_;
    std::optional<backend::BackendClient> transformer_;
    TaskHandle validationTask_;
    TaskHandle iconRevertTask_;
    // What a run in progress must put back on the clipboard if it is cut
    // short (the program quits): set while the clipboard holds the copied
    // selection or the correction.
    std::optional<clipboard::PasteboardSnapshot> pendingRestore_;
    bool hotkeyToldAtStart_ = false;
    Lifetime lifetime_;  // tasks hold the coordinator through this, weakly
};

}  // namespace quillant::app
