#include <gtest/gtest.h>

#include "runtime/VirtualExecutor.h"

using namespace quillant;
using namespace std::chrono_literals;

TEST(VirtualExecutor, TimersFireInDeadlineOrderThenSchedulingOrder) {
    VirtualExecutor ex;
    std::vector<std::string> order;
    ex.schedule(30ms, [&] { order.push_back("c"); });
    ex.schedule(10ms, [&] { order.push_back("a"); });
    ex.schedule(10ms, [&] { order.push_back("b"); });
    ex.post([&] { order.push_back("posted"); });
    ex.advance(29ms);
    EXPECT_EQ(order, (std::vector<std::string>{"posted", "a", "b"}));
    ex.advance(1ms);
    EXPECT_EQ(order.back(), "c");
}

TEST(VirtualExecutor, CancelledTimerNeverFires) {
    VirtualExecutor ex;
    int fired = 0;
    auto h = ex.schedule(5ms, [&] { ++fired; });
    EXPECT_TRUE(h.pending());
    h.cancel();
    EXPECT_FALSE(h.pending());
    ex.advance(1s);
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(ex.advanceToNextTimer());
}

TEST(VirtualExecutor, TimersScheduledByTimersSeeTheirOwnDeadline) {
    VirtualExecutor ex;
    std::vector<Duration> at;
    ex.schedule(10ms, [&] {
        at.push_back(ex.elapsed());
        ex.schedule(10ms, [&] { at.push_back(ex.elapsed()); });
    });
    ex.advance(25ms);
    EXPECT_EQ(at, (std::vector<Duration>{10ms, 20ms}));
    EXPECT_EQ(ex.elapsed(), 25ms);
}
