#include "app/AppCoordinator.h"

#include "app/UrlPolicy.h"
#include "app/VersionCompare.h"
#include "backend/BackendProtocol.h"
#include "clipboard/MentionSplicer.h"
#include "text/Text.h"

namespace quillant::app {

using namespace std::chrono_literals;
using backend::BackendClient;
using backend::BackendError;
using backend::ValidationOutcome;

namespace {

constexpr Duration kWarnFlash = 1500ms;
constexpr Duration kOkFlash = 900ms;
constexpr std::int64_t kCopyTimeoutMs = 400;
constexpr double kRequestTimeoutSeconds = 10.0;

}  // namespace

AppCoordinator::AppCoordinator(CoordinatorServices services)
    : services_(std::move(services)),
      log_(services_.logSink, std::string(kLogSubsystem), "coordinator"),
      updater_(services_.session, services_.workRunner, services_.update, log_,
               [this](const std::string& status) {
                   lastStatus = status;
                   updateStatus = status;
               },
               services_.updatePublicKey, runningVersion()) {
    // The answer is not needed here; asking makes the platform explain how to allow it.
    services_.accessibility.isProcessTrusted(true);

    if (auto key = services_.tokenStore.load()) {
        transformer_ = makeClient(*key);
        backendStatus = BackendStatus::checking;
        lastStatus = "Checking key…";
    } else {
        backendStatus = BackendStatus::absent;
        lastStatus = "Enter API key to start";
    }

    hotkey_ = std::make_unique<hotkey::HotkeyManager>(services_.hotKeys, [this] { hotkeyPressed(); });
    hotkey_->registerCombo(services_.preferences.hotkeyCombo);
    refreshHotkeyArming();

    const HotkeyArming& arming = hotkeyArming.get();
    log_.info("quillant started; hotkey " + arming.shown +
              (arming.armed ? std::string(" armed") : " not armed (" + arming.reason + ")") +
              "; status=" + std::string(caseName(backendStatus)));
    hotkeyToldAtStart_ = true;

    if (backendStatus == BackendStatus::checking) revalidateToken();

    spawn(services_.executor, lifetime_, [this] { return checkForUpdate(); });
}

AppCoordinator::~AppCoordinator() { restoreInterruptedRun(); }

void AppCoordinator::hotkeyPressed() {
    // Every press starts its own run; the flow's guard drops presses during a run.
    spawn(services_.executor, lifetime_, [this] { return runFixFlow(); });
}

void AppCoordinator::restoreInterruptedRun() {
    if (!pendingRestore_) return;
    // Quitting in the middle of a fix: the user's content goes back first, so
    // that whatever takes the clipboard over (a clipboard manager) keeps theirs.
    services_.pasteboard.restore(*pendingRestore_);
    pendingRestore_.reset();
    log_.info("quit during a fix; clipboard restored");
}

std::optional<clipboard::FocusedApplication> AppCoordinator::focusedApplication() const {
    if (!services_.focus) return std::nullopt;
    return services_.focus->focusedApplication();
}

clipboard::ApplicationChords AppCoordinator::applicationChords() const {
    auto table = clipboard::ApplicationChords::builtIn();
    if (!services_.settings) return table;
    auto entries = services_.settings->dictionaryForKey(std::string(clipboard::ApplicationChords::settingsKey));
    if (!entries) return table;
    for (const auto& [name, value] : *entries) {
        const auto* word = std::get_if<std::string>(&value);
        if (!word || !table.addUserEntry(name, *word))
            log_.error("ignoring settings entry " + std::string(clipboard::ApplicationChords::settingsKey) + "." +
                       name + ": expected \"ctrl\", \"ctrl+shift\" or \"refuse\"");
    }
    return table;
}

void AppCoordinator::refuseChord(const clipboard::FocusedApplication& application,
                                 const clipboard::ChordDecision& decision) {
    const std::string name = application.displayName();
    if (decision.source == clipboard::ChordDecision::Source::userEntry) {
        lastStatus = "Not fixed — turned off for " + name + " in settings";
        log_.error("fix refused for " + name + ": turned off in settings");
    } else {
        lastStatus = "Not fixed — " + name + " is a terminal; its selection can't be replaced";
        log_.error("fix refused for " + name + ": terminals are refused unless opted in");
    }
    flashState(MenuBarState::warn, kWarnFlash);
}

BackendClient AppCoordinator::makeClient(const std::string& token) const {
    return BackendClient{services_.baseURL, token, kRequestTimeoutSeconds, services_.session};
}

std::string AppCoordinator::runningVersion() const {
    return services_.runningVersion.empty() ? std::string("0.0.0") : services_.runningVersion;
}

void AppCoordinator::flashState(MenuBarState state, Duration duration) {
    iconRevertTask_.cancel();
    menuBarState = state;
    iconRevertTask_ = spawn(services_.executor, lifetime_, [this, duration]() -> Task<void> {
        bool slept = co_await sleepFor(duration);
        if (!slept || co_await isCancelled()) co_return;
        menuBarState = MenuBarState::idle;
    });
}

void AppCoordinator::resumeHotkey() {
    if (hotkey_) hotkey_->registerCombo(services_.preferences.hotkeyCombo);
    log_.info("hotkey re-armed: " + services_.preferences.hotkeyDisplay());
    refreshHotkeyArming();
}

void AppCoordinator::applyNewHotkey(const hotkey::KeyCombo& combo) {
    services_.preferences.setHotkey(combo);
    if (hotkey_) hotkey_->registerCombo(combo);
    log_.info("hotkey updated to " + services_.preferences.hotkeyDisplay());
    refreshHotkeyArming();
}

void AppCoordinator::refreshHotkeyArming() {
    const bool registered = hotkey_ && hotkey_->isArmed();
    const std::string display = services_.preferences.hotkeyDisplay();
    HotkeyArming now = services_.hotkeyArming
                           ? services_.hotkeyArming(registered, display)
                           : registered ? HotkeyArming{true, display, {}, {}}
                                        : HotkeyArming{false, display, "another program holds it",
                                                       "choose another combination"};
    if (now.shown.empty()) now.shown = display;
    if (now == hotkeyArming.get()) return;
    // After start-up (whose line says it), a change the desktop makes later is told as it comes.
    const bool told = hotkeyToldAtStart_ && now.armed != hotkeyArming->armed;
    hotkeyArming = std::move(now);
    if (!told) return;
    if (hotkeyArming->armed)
        log_.info("hotkey armed: " + hotkeyArming->shown);
    else
        log_.error("hotkey not armed: " + hotkeyArming->reason);
}

void AppCoordinator::endFix(bool failed) { lastOutcome = FixOutcome{lastStatus.get(), failed}; }

Task<void> AppCoordinator::runFixFlow() {
    if (isRunning) {
        log_.info("fix flow already in progress; ignoring re-trigger");
        co_return;
    }
    if (!transformer_) {
        lastStatus = "Enter API key to start";
        log_.error("hotkey fired but no API key is set");
        flashState(MenuBarState::warn, kWarnFlash);
        endFix(true);
        co_return;
    }
    if (backendStatus == BackendStatus::invalid) {
        lastStatus = "API key invalid — re-enter token";
        log_.error("hotkey fired with known-invalid token; skipping fix");
        flashState(MenuBarState::warn, kWarnFlash);
        endFix(true);
        co_return;
    }

    isRunning = true;
    menuBarState = MenuBarState::loading;
    iconRevertTask_.cancel();
    log_.info("hotkey fired");
    if (services_.fixStarting) services_.fixStarting();
    lastStatus = "Working…";
    // The run keeps its own client: a key saved or cleared meanwhile does not affect it.
    const BackendClient client = *transformer_;

    // Every exit from here on closes the run, and tells how it ended.
    struct Closer {
        AppCoordinator* self;
        std::weak_ptr<const void> alive;
        bool succeeded = false;
        ~Closer() {
            if (alive.expired()) return;  // the run was dropped with its coordinator
            self->isRunning = false;
            if (self->menuBarState == MenuBarState::loading) self->menuBarState = MenuBarState::idle;
            self->endFix(!succeeded);
        }
    } closer{this, lifetime_.weak()};

    if (!services_.accessibility.isProcessTrusted(false)) {
        lastStatus = "Need Accessibility permission";
        log_.error("Accessibility not granted");
        services_.accessibility.isProcessTrusted(true);
        co_return;
    }

    auto& broker = services_.pasteboard;
    // Every chord waits until the user has let go of the hotkey's keys; only
    // then is it known where it would land.
    co_await services_.keystrokes.awaitKeysReleased(clipboard::PasteboardBroker::kKeyReleaseBound);
    const clipboard::ApplicationChords chords = applicationChords();
    std::optional<clipboard::FocusedApplication> focus = focusedApplication();
    clipboard::ChordDecision chord = chords.decide(focus);
    if (chord.choice == clipboard::ChordChoice::refuse) {
        refuseChord(*focus, chord);
        co_return;
    }

    const clipboard::PasteboardSnapshot snapshot = broker.snapshot();
    if (!snapshot.complete) {
        // Restoring a partial copy would wipe what the owner could not deliver.
        lastStatus = "Not fixed — the clipboard's owner didn't answer in time";
        log_.error("clipboard snapshot incomplete: its owner did not answer in time; fix refused");
        flashState(MenuBarState::warn, kWarnFlash);
        co_return;
    }
    // A slow owner may have kept the snapshot busy; the chord goes where the focus is now.
    if (auto now = focusedApplication(); now != focus) {
        focus = std::move(now);
        chord = chords.decide(focus);
        if (chord.choice == clipboard::ChordChoice::refuse) {
            refuseChord(*focus, chord);
            co_return;
        }
    }
    const bool withShift = chord.choice == clipboard::ChordChoice::controlShift;
    auto restoreSnapshot = [this, &broker, &snapshot] {
        broker.restore(snapshot);
        pendingRestore_.reset();
    };

    pendingRestore_ = snapshot;
    clipboard::CapturedSelection selection;
    std::string copyError;
    try {
        selection = co_await broker.copySelection(kCopyTimeoutMs, {withShift, /*awaitRelease=*/false});
    } catch (const std::exception& e) {
        copyError = e.what();
    }
    if (!copyError.empty()) {
        log_.error("copy failed: " + copyError);
        restoreSnapshot();
        lastStatus = "Couldn't read selection";
        flashState(MenuBarState::warn, kWarnFlash);
        co_return;
    }

    if (selection.text.empty()) {
        restoreSnapshot();
        lastStatus = "Empty selection";
        co_return;
    }

    const std::size_t length = text::graphemeCount(selection.text);
    if (length > maxSelectionChars) {
        restoreSnapshot();
        lastStatus = "Selection too long (" + std::to_string(length) + " / " + std::to_string(maxSelectionChars) + ")";
        log_.error("selection rejected: " + std::to_string(length) + " chars exceeds cap " +
                   std::to_string(maxSelectionChars));
        flashState(MenuBarState::warn, kWarnFlash);
        co_return;
    }

    const std::size_t mentions = selection.slackDelta ? selection.slackDelta->mentionOps().size() : 0;
    log_.info("captured selection (" + std::to_string(length) + " chars, " + std::to_string(mentions) +
              " Slack mentions)");
    // The user's clipboard is back before the network call, whatever it does.
    restoreSnapshot();
    lastStatus = "Fixing…";

    std::string corrected;
    std::string note;  // the service's word on how it corrected, if any
    std::optional<std::string> failure;  // the status text when the call failed
    bool keyRejected = false;
    try {
        backend::FixResult answer = co_await client.fix(selection.text);
        corrected = std::move(answer.corrected);
        note = std::move(answer.note);
    } catch (const BackendError& e) {
        log_.error("transform failed: " + e.userMessage());
        keyRejected = e.kind() == BackendError::Kind::invalidKey;
        failure = e.userMessage();
    } catch (const std::exception& e) {
        log_.error(std::string("transform failed: ") + e.what());
        failure = "Fix failed";
    }
    if (failure) {
        // Only a verdict on the key still in use counts: a key saved or cleared
        // while this run waited is not the one the service refused.
        if (keyRejected && transformer_ && transformer_->token == client.token) backendStatus = BackendStatus::invalid;
        lastStatus = *failure;
        flashState(MenuBarState::warn, kWarnFlash);
        co_return;
    }

    if (!note.empty()) log_.info("service: " + note);
    correctionsNote = note;

    if (text::canonicallyEqual(corrected, selection.text)) {
        lastStatus = note.empty() ? std::string("No changes") : note + " (no changes)";
        log_.info("no change after transform; aborting paste");
        flashState(MenuBarState::ok, kOkFlash);
        closer.succeeded = true;
        co_return;
    }

    // The answer may come seconds later; a paste into whatever window has the
    // focus by then would put the correction into another document.
    if (focus) {
        const auto now = focusedApplication();
        if (!now || now->window != focus->window) {
            lastStatus = "Not pasted — focus moved to another window";
            log_.error("focus moved away from " + focus->displayName() + " during the fix; correction not pasted");
            flashState(MenuBarState::warn, kWarnFlash);
            co_return;
        }
    }

    std::optional<clipboard::SlackDelta> payload;
    if (selection.slackDelta && mentions > 0) {
        payload = clipboard::MentionSplicer::splice(*selection.slackDelta, corrected);
        if (payload)
            log_.info("spliced " + std::to_string(mentions) + " mentions into corrected text");
        else
            log_.info("mention splice failed; falling back to plain-text paste");
    }

    pendingRestore_ = snapshot;
    broker.writeTransient(corrected, payload);
    const std::optional<clipboard::WindowId> pastingWindow =
        focus ? std::optional<clipboard::WindowId>(focus->window) : std::nullopt;
    const auto readsBefore = broker.textReadsBy(pastingWindow);
    if (!services_.keystrokes.sendCommand(clipboard::kKeyCodeV, withShift)) {
        // Nothing was pasted: the correction must not be reported as done.
        restoreSnapshot();
        lastStatus = "Not pasted — the paste keystroke could not be sent";
        log_.error("paste keystroke could not be sent; correction not pasted");
        flashState(MenuBarState::warn, kWarnFlash);
        co_return;
    }
    // 250 ms; on X11 also until the pasting application has fetched the text
    // and gone quiet. Cut short or not, the run goes on.
    const bool taken = co_await broker.settleAfterPaste(readsBefore, pastingWindow);

    restoreSnapshot();
    if (!taken) {
        // The application saw the keystroke but never asked for our text, or
        // asked only after its paste had stalled: it inserted nothing, and the
        // user must know.
        lastStatus = "Not pasted — the application didn't take the correction";
        log_.error("the application did not take the correction; not pasted");
        flashState(MenuBarState::warn, kWarnFlash);
        co_return;
    }
    lastStatus = note.empty() ? "Replaced (" + std::to_string(length) + " → " +
                                    std::to_string(text::graphemeCount(corrected)) + " chars)"
                              : note;
    closer.succeeded = true;
    log_.info("paste committed; clipboard restored");
}

bool AppCoordinator::saveBackendToken(const std::string& token) {
    const std::string key = text::trimmed(token);
    if (key.empty()) return false;
    if (!services_.tokenStore.save(key)) {
        log_.error("saving API key failed");
        lastStatus = "Failed to save key";
        return false;
    }
    transformer_ = makeClient(key);
    backendStatus = BackendStatus::checking;
    lastStatus = "Checking key…";
    log_.info("API key saved; validating with backend");
    revalidateToken();
    return true;
}

void AppCoordinator::clearBackendToken() {
    validationTask_.cancel();
    validationTask_ = TaskHandle();
    services_.tokenStore.clear();
    transformer_.reset();
    backendStatus = BackendStatus::absent;
    lastStatus = "Enter API key to start";
    log_.info("API key cleared");
}

void AppCoordinator::revalidateToken() {
    validationTask_.cancel();
    if (!transformer_) return;
    validationTask_ = spawn(services_.executor, lifetime_, [this, client = *transformer_]() -> Task<void> {
        const ValidationOutcome outcome = co_await client.validateToken();
        if (co_await isCancelled()) co_return;
        // A late answer for an older key never overwrites a newer key's state.
        if (!transformer_ || transformer_->token != client.token) co_return;
        switch (outcome) {
            case ValidationOutcome::valid:
                backendStatus = BackendStatus::connected;
                lastStatus = "Ready";
                log_.info("token validated");
                break;
            case ValidationOutcome::invalid:
                backendStatus = BackendStatus::invalid;
                lastStatus = "API key invalid — re-enter token";
                log_.error("backend reported token invalid");
                break;
            case ValidationOutcome::unreachable:
                backendStatus = BackendStatus::offline;
                lastStatus = "Backend unreachable — key not verified";
                log_.error("token validation failed: network error");
                break;
        }
    });
}

Task<void> AppCoordinator::checkForUpdate() {
    auto latest = co_await BackendClient::fetchLatestVersion(services_.baseURL, services_.session);
    if (!latest) co_return;
    // Code is fetched only from where nobody on the way can swap it.
    if (!backend::isAcceptableDownloadURL(latest->downloadURL)) co_return;
    const std::string current = runningVersion();
    if (!isNewer(latest->version, current)) co_return;
    updateAvailable = true;
    updateVersion = latest->version;
    updateDownloadURL = latest->downloadURL;
    log_.info("update available: " + latest->version + " (current: " + current + ")");
}

void AppCoordinator::installUpdate() {
    if (!updateDownloadURL.get()) return;
    // Each run would download again, and the first to finish ends the program under the others.
    if (isUpdating) return;
    isUpdating = true;
    spawn(services_.executor, lifetime_, [this, url = *updateDownloadURL.get()] { return runUpdate(url); });
}

Task<void> AppCoordinator::runUpdate(std::string url) {
    co_await updater_.run(std::move(url));
    isUpdating = false;
}

}  // namespace quillant::app
