#include "ui/MenuBarLabel.h"

#include <QEasingCurve>
#include <QPointF>

namespace quillant::ui {

double Pulse::opacity(int step) {
    // The same curve as a CSS ease-in-out.
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
        return c;
    }();
    const int index = frameIndex(((step % kStepCount) + kStepCount) % kStepCount);
    const double progress = curve.valueForProgress(double(index) / kStepsPerHalf);
    return 1.0 - (1.0 - kDimOpacity) * progress;
}

MenuBarLabel::MenuBarLabel(Executor& executor, const Published<app::MenuBarState>& state, Show show)
    : executor_(executor), show_(std::move(show)) {
    frame_.state = state.get();
    if (frame_.state == app::MenuBarState::loading) {
        // Entered as if from idle so that the fade starts here.
        frame_.state = app::MenuBarState::idle;
        enter(app::MenuBarState::loading);
    } else {
        show_(frame_);
    }
    subscription_ = state.onDidSet([this](const app::MenuBarState& s) { enter(s); });
}

MenuBarLabel::~MenuBarLabel() { timer_.cancel(); }

void MenuBarLabel::enter(app::MenuBarState state) {
    if (state == frame_.state) return;  // a repeated flash looks the same
    timer_.cancel();
    frame_ = {state, 0};
    show_(frame_);
    if (state == app::MenuBarState::loading) {
        fadeStart_ = executor_.now();
        stepsTaken_ = 0;
        scheduleStep();
    }
}

void MenuBarLabel::scheduleStep() {
    // Deadlines on the fade's own grid, so a late frame does not slow the pulse.
    const auto next = fadeStart_ + (stepsTaken_ + 1) * Pulse::kFrameInterval;
    auto delay = std::chrono::duration_cast<Duration>(next - executor_.now());
    if (delay < Duration::zero()) delay = Duration::zero();
    timer_ = executor_.schedule(delay, [this] {
        ++stepsTaken_;
        // After a stall, skip to the frame that is due now rather than racing through the missed ones.
        const auto due = (executor_.now() - fadeStart_) / Pulse::kFrameInterval;
        if (due > stepsTaken_) stepsTaken_ = due;
        frame_.pulseStep = int(stepsTaken_ % Pulse::kStepCount);
        show_(frame_);
        scheduleStep();
    });
}

}  // namespace quillant::ui
