#include <gtest/gtest.h>

#include "clipboard/KeyEventSynth.h"
#include "runtime/VirtualExecutor.h"
#include "testsupport/FakeKeyEventPoster.h"

using namespace quillant;
using namespace quillant::clipboard;
using namespace std::chrono_literals;
using quillant::testing::FakeKeyEventPoster;

TEST(KeyEventSynth, PostsDownThenUpWithExactlyCommand) {
    FakeKeyEventPoster poster;
    KeyEventSynth(poster).sendCommand(8);
    ASSERT_EQ(poster.events.size(), 2u);
    EXPECT_EQ(poster.events[0], (KeyEvent{8, true, 0x100000, true}));
    EXPECT_EQ(poster.events[1], (KeyEvent{8, false, 0x100000, true}));
    EXPECT_EQ(poster.sourcesReleased, 1);
}

TEST(KeyEventSynth, PostsWithoutASourceWhenNoneCanBeMade) {
    FakeKeyEventPoster poster;
    poster.failSource = true;
    KeyEventSynth(poster).sendCommand(9);
    ASSERT_EQ(poster.events.size(), 2u);
    EXPECT_EQ(poster.events[0], (KeyEvent{9, true, 0x100000, false}));
    EXPECT_EQ(poster.events[1], (KeyEvent{9, false, 0x100000, false}));
    EXPECT_EQ(poster.sourcesReleased, 0);
}

TEST(KeyEventSynth, AnEventThatCannotBeCreatedIsSkippedTheOtherStillPosts) {
    FakeKeyEventPoster poster;
    poster.refused.insert({8, true});
    KeyEventSynth(poster).sendCommand(8);
    ASSERT_EQ(poster.events.size(), 1u);
    EXPECT_FALSE(poster.events[0].keyDown);
}

struct ReleaseCase {
    const char* name;
    int heldFor;
    bool released;
    Duration waited;
};

class AwaitKeysReleased : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(AwaitKeysReleased, PollsUntilReleasedOrTheBound) {
    VirtualExecutor ex;
    FakeKeyEventPoster poster;
    poster.heldFor = GetParam().heldFor;
    KeyEventSynth synth(poster);
    std::optional<bool> result;
    spawn(ex, [&]() -> Task<void> { result = co_await synth.awaitKeysReleased(100ms); });
    ex.runUntil([&] { return result.has_value(); });
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, GetParam().released);
    EXPECT_EQ(ex.elapsed(), GetParam().waited);
}

INSTANTIATE_TEST_SUITE_P(KeyEventSynth, AwaitKeysReleased,
                         ::testing::Values(ReleaseCase{"nothing_held", 0, true, 0ms},
                                           ReleaseCase{"held_three_polls", 3, true, 15ms},
                                           ReleaseCase{"held_past_the_bound", 1000, false, 100ms}),
                         [](const auto& info) { return std::string(info.param.name); });
