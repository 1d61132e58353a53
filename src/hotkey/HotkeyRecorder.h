#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "hotkey/KeyCombo.h"
#include "hotkey/KeyDownMonitor.h"
#include "hotkey/ShortcutStyle.h"
#include "runtime/Executor.h"
#include "runtime/Observable.h"
#include "runtime/Task.h"

namespace quillant::hotkey {

// Captures the next key combination pressed in this application's windows
// and hands it over once. Every key press is swallowed while recording; the
// decision about each press takes effect on the main thread after the
// monitor's handler returns. Main thread only.
class HotkeyRecorder final : public ObservableObject {
public:
    using CaptureHandler = std::function<void(KeyCombo)>;

    static constexpr std::string_view modifierRequiredMessage = "Add ⌘, ⌥, or ⌃ — Shift alone isn't enough.";
    // A key outside the key table: the hotkey service could never arm it.
    static constexpr std::string_view unusableKeyMessage = "That key can't be part of a hotkey — try another.";
    static constexpr std::uint16_t escapeKeyCode = 53;

    // `style` writes the refusal message the way the desktop writes shortcuts.
    HotkeyRecorder(KeyDownMonitor& monitor, Executor& executor, ShortcutStyle style = ShortcutStyle::macGlyphs);
    HotkeyRecorder(const HotkeyRecorder&) = delete;
    HotkeyRecorder& operator=(const HotkeyRecorder&) = delete;
    ~HotkeyRecorder();

private:
    KeyDownMonitor& keyDownMonitor_;
    Executor& executor_;
    ShortcutStyle style_;
    Published<bool> isRecording_{*this, false};
    Published<std::optional<std::string>> lastError_{*this, std::nullopt};
    std::optional<KeyDownMonitorToken> monitor_;
    CaptureHandler onCapture_;
    // Bumped on every start, so a decision scheduled during one capture never
    // acts on a later one.
    std::uint64_t session_ = 0;
    Lifetime lifetime_;

public:
    // A capture is in progress. Ending without a delivery (Escape) shows as
    // this turning false without the callback having been called.
    const Published<bool>& isRecording{isRecording_};
    // The last rejection, kept until the next start.
    const Published<std::optional<std::string>>& lastError{lastError_};

    // Begins a capture; `onCapture` receives at most one combination. Does
    // nothing while a capture runs (the running one keeps its callback).
    void start(CaptureHandler onCapture);
    // Ends a capture; does nothing when idle.
    void stop();
    // Forgets the last rejection: its owner shows it no longer (a capture
    // ended, or the panel closed).
    void dismissError() {
        if (lastError_.get()) lastError_ = std::nullopt;
    }

private:
    bool handleKeyDown(std::uint16_t keyCode, ModifierFlags modifierFlags);
    void deliver(std::uint64_t session, KeyCombo combo);
};

}  // namespace quillant::hotkey
