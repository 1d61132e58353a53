#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "QtApp.h"
#include "platform/linux/qt/QtExecutor.h"

namespace quillant::testing {
namespace {

using namespace std::chrono_literals;
using linux_platform::QtExecutor;

TEST(QtExecutor, WorkPostedFromAnotherThreadRunsOnTheLoopInOrder) {
    qtApp();
    QtExecutor executor;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            executor.post([&, i] {
                order.push_back(i);
                threads.push_back(std::this_thread::get_id());
            });
    });
    poster.join();
    ASSERT_TRUE(processUntil([&] { return order.size() == 100; }));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[std::size_t(i)], i);
    for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(QtExecutor, TimersFireInDeadlineOrderAfterTheirDelayAndCancelledOnesNever) {
    qtApp();
    QtExecutor executor;
    std::vector<int> fired;
    const auto start = executor.now();
    executor.schedule(60ms, [&] { fired.push_back(60); });
    executor.schedule(20ms, [&] { fired.push_back(20); });
    auto cancelled = executor.schedule(30ms, [&] { fired.push_back(30); });
    executor.schedule(40ms, [&] { fired.push_back(40); });
    cancelled.cancel();
    EXPECT_FALSE(cancelled.pending());
    ASSERT_TRUE(processUntil([&] { return fired.size() == 3; }));
    EXPECT_GE(executor.now() - start, 60ms);
    EXPECT_EQ(fired, (std::vector<int>{20, 40, 60}));
    processUntil([] { return false; }, 100ms);
    EXPECT_EQ(fired.size(), 3u);
}

TEST(QtExecutor, ReadableDescriptorsCallBackUntilUnwatched) {
    qtApp();
    QtExecutor executor;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int calls = 0;
    executor.watchReadable(fds[0], [&] {
        char byte;
        [[maybe_unused]] auto n = read(fds[0], &byte, 1);
        if (++calls == 2) executor.unwatch(fds[0]);
    });
    ASSERT_EQ(write(fds[1], "ab", 2), 2);
    ASSERT_TRUE(processUntil([&] { return calls == 2; }));
    ASSERT_EQ(write(fds[1], "c", 1), 1);
    processUntil([] { return false; }, 100ms);
    EXPECT_EQ(calls, 2);
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
}  // namespace quillant::testing
