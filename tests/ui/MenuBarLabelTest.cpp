// The glyph's states on the virtual clock: which picture, when, and how often
// the tray is asked to change it.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/VirtualExecutor.h"
#include "ui/MenuBarLabel.h"

using namespace quillant;
using namespace quillant::ui;
using app::MenuBarState;
using namespace std::chrono_literals;

namespace {

struct StateSource : ObservableObject {
    Published<MenuBarState> state{*this, MenuBarState::idle};
};

struct Update {
    Duration at;
    MenuBarFrame frame;
};

struct LabelFixture : ::testing::Test {
    VirtualExecutor ex;
    StateSource source;
    std::vector<Update> updates;
    std::unique_ptr<MenuBarLabel> label;

    void start(MenuBarState initial = MenuBarState::idle) {
        source.state = initial;
        label = std::make_unique<MenuBarLabel>(ex, source.state,
                                               [this](const MenuBarFrame& f) { updates.push_back({ex.elapsed(), f}); });
    }
    std::size_t updatesBetween(Duration from, Duration to) const {
        std::size_t n = 0;
        for (auto& u : updates) n += u.at >= from && u.at < to;
        return n;
    }
};

}  // namespace

class StillStates : public LabelFixture, public ::testing::WithParamInterface<MenuBarState> {};

TEST_P(StillStates, ShowOnePictureAndNeverWakeUp) {
    start(GetParam());
    ex.advance(10s);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].frame, (MenuBarFrame{GetParam(), 0}));
    EXPECT_EQ(ex.pendingTimers(), 0u);
}

TEST_P(StillStates, ReachedFromLoadingStopTheFadeAtOnce) {
    start(MenuBarState::loading);
    ex.advance(300ms);
    const auto before = updates.size();
    source.state = GetParam();
    // Replaced in the same turn, not at the next frame.
    ASSERT_EQ(updates.size(), before + 1);
    EXPECT_EQ(updates.back().at, 300ms);
    EXPECT_EQ(updates.back().frame, (MenuBarFrame{GetParam(), 0}));
    ex.advance(10s);
    EXPECT_EQ(updates.size(), before + 1);
    EXPECT_EQ(ex.pendingTimers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Label, StillStates,
                         ::testing::Values(MenuBarState::idle, MenuBarState::ok, MenuBarState::warn),
                         [](const auto& info) { return std::string(app::caseName(info.param)); });

TEST_F(LabelFixture, LoadingFadesAtMostTwentyTimesASecond) {
    start();
    source.state = MenuBarState::loading;
    ex.advance(10s);
    for (Duration t = 0s; t < 10s; t += 100ms) EXPECT_LE(updatesBetween(t, t + 1s), 20u) << "window at " << t.count();
    // Still a fade, not a slide show.
    EXPECT_GE(updatesBetween(0s, 10s), 150u);
}

TEST_F(LabelFixture, TheFadeGoesFromFullToDimAndBackInOnePointOneSeconds) {
    start();
    source.state = MenuBarState::loading;
    ex.advance(1100ms + 1ms);
    std::vector<double> opacity;
    for (auto& u : updates)
        if (u.frame.state == MenuBarState::loading) opacity.push_back(Pulse::opacity(u.frame.pulseStep));
    ASSERT_EQ(opacity.size(), 21u);
    EXPECT_DOUBLE_EQ(opacity.front(), 1.0);
    EXPECT_NEAR(opacity[10], Pulse::kDimOpacity, 1e-9);
    EXPECT_DOUBLE_EQ(opacity.back(), 1.0);
    for (int i = 1; i <= 10; ++i) EXPECT_LT(opacity[i], opacity[i - 1]) << i;
    for (int i = 11; i <= 20; ++i) EXPECT_GT(opacity[i], opacity[i - 1]) << i;
    // Ease in and out: slow at both ends, fastest in the middle.
    EXPECT_LT(opacity[0] - opacity[1], opacity[4] - opacity[5]);
    EXPECT_LT(opacity[9] - opacity[10], opacity[4] - opacity[5]);
}

TEST_F(LabelFixture, EachLoadingStartsAFreshFadeFromFullOpacity) {
    struct Case {
        const char* name;
        MenuBarState between;
        Duration loadingFor;
    };
    for (auto c : {Case{"after ok", MenuBarState::ok, 300ms}, Case{"after warn", MenuBarState::warn, 600ms},
                   Case{"after idle", MenuBarState::idle, 1s}}) {
        SCOPED_TRACE(c.name);
        updates.clear();
        label.reset();
        start();
        source.state = MenuBarState::loading;
        ex.advance(c.loadingFor);
        source.state = c.between;
        ex.advance(200ms);
        const auto restart = ex.elapsed();
        const auto before = updates.size();
        source.state = MenuBarState::loading;
        ASSERT_EQ(updates.size(), before + 1);
        EXPECT_EQ(updates.back().frame, (MenuBarFrame{MenuBarState::loading, 0}));
        ex.advance(Pulse::kFrameInterval);
        ASSERT_EQ(updates.size(), before + 2);
        EXPECT_EQ(updates.back().frame.pulseStep, 1);
        EXPECT_EQ(updates.back().at, restart + Pulse::kFrameInterval);
    }
}

TEST_F(LabelFixture, ARepeatedStateChangesNothing) {
    for (auto s : {MenuBarState::idle, MenuBarState::loading, MenuBarState::ok, MenuBarState::warn}) {
        SCOPED_TRACE(std::string(app::caseName(s)));
        label.reset();
        updates.clear();
        start(s);
        ex.advance(120ms);
        const auto before = updates.size();
        const auto step = label->current().pulseStep;
        source.state = s;  // e.g. a second flash of the same kind
        EXPECT_EQ(updates.size(), before);
        EXPECT_EQ(label->current().pulseStep, step);
    }
}

TEST_F(LabelFixture, StartingWhileLoadingFadesFromTheStart) {
    start(MenuBarState::loading);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].frame, (MenuBarFrame{MenuBarState::loading, 0}));
    ex.advance(Pulse::kFrameInterval);
    EXPECT_EQ(updates.size(), 2u);
}

TEST_F(LabelFixture, AGoneLabelLeavesNoTimerBehind) {
    start();
    source.state = MenuBarState::loading;
    ex.advance(100ms);
    label.reset();
    const auto before = updates.size();
    ex.advance(1s);
    source.state = MenuBarState::ok;
    EXPECT_EQ(updates.size(), before);
}
