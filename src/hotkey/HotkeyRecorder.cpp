#include "hotkey/HotkeyRecorder.h"

namespace quillant::hotkey {

namespace {
// Any device-independent modifier but shift: control, option, command, caps
// lock, numeric pad, help, function and whatever else the platform sets there.
constexpr ModifierFlags qualifyingModifiers{0xFFFD0000};
}  // namespace

HotkeyRecorder::HotkeyRecorder(KeyDownMonitor& monitor, Executor& executor, ShortcutStyle style)
    : keyDownMonitor_(monitor), executor_(executor), style_(style) {}

HotkeyRecorder::~HotkeyRecorder() {
    // An owner that forgot to stop must not leave its handler installed.
    if (monitor_) keyDownMonitor_.removeMonitor(*monitor_);
}

void HotkeyRecorder::start(CaptureHandler onCapture) {
    if (isRecording_.get()) return;
    ++session_;
    onCapture_ = std::move(onCapture);
    lastError_ = std::nullopt;
    isRecording_ = true;
    monitor_ = keyDownMonitor_.addLocalMonitor(
        [this, alive = lifetime_.weak()](std::uint16_t keyCode, ModifierFlags modifierFlags) {
            if (alive.expired()) return true;
            return handleKeyDown(keyCode, modifierFlags);
        });
}

void HotkeyRecorder::stop() {
    if (monitor_) keyDownMonitor_.removeMonitor(*std::exchange(monitor_, std::nullopt));
    onCapture_ = nullptr;
    if (isRecording_.get()) isRecording_ = false;
}

bool HotkeyRecorder::handleKeyDown(std::uint16_t keyCode, ModifierFlags modifierFlags) {
    // Each decision runs after this handler returns, and only within the
    // capture it was made in.
    const std::uint64_t session = session_;
    auto alive = lifetime_.weak();

    if (keyCode == escapeKeyCode) {
        executor_.post([this, alive, session] {
            if (!alive.expired() && session == session_) stop();
        });
    } else if (!Key::fromCarbonKeyCode(keyCode)) {
        executor_.post([this, alive, session] {
            if (!alive.expired() && session == session_) lastError_ = std::string(unusableKeyMessage);
        });
    } else if (modifierFlags.intersects(qualifyingModifiers)) {
        const KeyCombo combo(keyCode, (modifierFlags & ModifierFlags::deviceIndependentFlagsMask).carbonFlags());
        executor_.post([this, alive, session, combo] {
            if (!alive.expired()) deliver(session, combo);
        });
    } else {
        executor_.post([this, alive, session] {
            if (!alive.expired() && session == session_) lastError_ = hotkey::modifierRequiredMessage(style_);
        });
    }
    return false;  // nothing reaches the panel while recording
}

void HotkeyRecorder::deliver(std::uint64_t session, KeyCombo combo) {
    if (session != session_) return;
    if (onCapture_) {
        // A copy: the callback may stop the capture, which clears onCapture_,
        // or even drop the recorder.
        const CaptureHandler callback = onCapture_;
        const auto alive = lifetime_.weak();
        callback(combo);
        if (alive.expired() || session != session_) return;
    }
    stop();
}

}  // namespace quillant::hotkey
