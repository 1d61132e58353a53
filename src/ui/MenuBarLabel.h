#pragma once

#include <chrono>
#include <functional>

#include "app/AppState.h"
#include "runtime/Executor.h"
#include "runtime/Observable.h"

namespace quillant::ui {

// One picture the tray shows: the state, and for `loading` the step of the
// fade (0 is full opacity).
struct MenuBarFrame {
    app::MenuBarState state = app::MenuBarState::idle;
    int pulseStep = 0;
    bool operator==(const MenuBarFrame&) const = default;
};

// The fade while loading, as pre-drawn frames: full to 35 % opacity in
// 0.55 s with an ease-in-out curve, then back, forever.
struct Pulse {
    static constexpr std::chrono::milliseconds kHalfPeriod{550};
    static constexpr int kStepsPerHalf = 10;
    // 55 ms between frames: about 18 icon updates a second.
    static constexpr std::chrono::milliseconds kFrameInterval{kHalfPeriod / kStepsPerHalf};
    static constexpr int kStepCount = 2 * kStepsPerHalf;  // one full cycle
    static constexpr double kDimOpacity = 0.35;

    // Distinct opacities: steps k and kStepCount-k look the same.
    static constexpr int kDistinctFrames = kStepsPerHalf + 1;
    static constexpr int frameIndex(int step) { return step <= kStepsPerHalf ? step : kStepCount - step; }
    static double opacity(int step);
};

// What the tray shows for the coordinator's `menuBarState`: a still glyph, the
// fade, a check or a warning. Tells `show` only when the picture changes, and
// moves the fade on the executor's clock, so nothing wakes up outside `loading`.
class MenuBarLabel {
public:
    using Show = std::function<void(const MenuBarFrame&)>;

    // Shows the current state at once.
    MenuBarLabel(Executor& executor, const Published<app::MenuBarState>& state, Show show);
    ~MenuBarLabel();
    MenuBarLabel(const MenuBarLabel&) = delete;
    MenuBarLabel& operator=(const MenuBarLabel&) = delete;

    const MenuBarFrame& current() const { return frame_; }

private:
    void enter(app::MenuBarState state);
    void scheduleStep();

    Executor& executor_;
    Show show_;
    MenuBarFrame frame_;
    TimePoint fadeStart_{};
    long long stepsTaken_ = 0;
    TimerHandle timer_;
    Subscription subscription_;
};

}  // namespace quillant::ui
