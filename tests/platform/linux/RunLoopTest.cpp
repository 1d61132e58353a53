#include <gtest/gtest.h>

#include <thread>

#include "platform/linux/RunLoop.h"
#include "runtime/Task.h"
#include "runtime/ThreadWorkRunner.h"

using namespace quillant;
using namespace std::chrono_literals;

// Real time, generous bounds: the loop must wake for timers and cross-thread posts.
TEST(RunLoopIntegration, RunsTimersAndCrossThreadPostsInOrder) {
    linux_platform::RunLoop loop;
    std::vector<int> order;
    loop.schedule(20ms, [&] { order.push_back(2); });
    auto cancelled = loop.schedule(10ms, [&] { order.push_back(99); });
    cancelled.cancel();
    std::thread t([&] { loop.post([&] { order.push_back(1); }); });
    t.join();
    ASSERT_TRUE(loop.runUntil([&] { return order.size() == 2; }, 10s));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(RunLoopIntegration, TaskSleepsAndHopsThreads) {
    linux_platform::RunLoop loop;
    ThreadWorkRunner runner(1);
    auto mainThread = std::this_thread::get_id();
    bool done = false;
    auto started = loop.now();
    spawn(loop, [&]() -> Task<void> {
        co_await sleepFor(30ms);
        int v = co_await runInBackground(runner, [] { return 7; });
        EXPECT_EQ(v, 7);
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        done = true;
    });
    ASSERT_TRUE(loop.runUntil([&] { return done; }, 10s));
    EXPECT_GE(loop.now() - started, 30ms);
}
