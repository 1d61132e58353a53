#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "runtime/Task.h"
#include "runtime/ThreadWorkRunner.h"
#include "runtime/VirtualExecutor.h"

using namespace quillant;
using namespace std::chrono_literals;

namespace {

Task<int> addLater(int a, int b) {
    co_await sleepFor(10ms);
    co_return a + b;
}

Task<int> failing() {
    co_await sleepFor(1ms);
    throw std::runtime_error("boom");
}

}  // namespace

TEST(Task, AwaitsChildTasksAndSleepsInVirtualTime) {
    VirtualExecutor ex;
    int result = 0;
    auto handle = spawn(ex, [&]() -> Task<void> { result = co_await addLater(2, 3); });
    ex.runUntilIdle();
    EXPECT_EQ(result, 0);
    ex.advance(9ms);
    EXPECT_EQ(result, 0);
    ex.advance(1ms);
    EXPECT_EQ(result, 5);
    EXPECT_TRUE(handle.isDone());
}

TEST(Task, ExceptionsPropagateToTheAwaiter) {
    VirtualExecutor ex;
    std::string caught;
    spawn(ex, [&]() -> Task<void> {
        try {
            co_await failing();
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
    });
    ex.runUntil([&] { return !caught.empty(); });
    EXPECT_EQ(caught, "boom");
}

TEST(Task, CancelledSleepEndsAtOnceWithoutMovingTime) {
    VirtualExecutor ex;
    std::optional<bool> slept;
    auto handle = spawn(ex, [&]() -> Task<void> { slept = co_await sleepFor(1500ms); });
    ex.advance(100ms);
    ASSERT_FALSE(slept);
    handle.cancel();
    ex.runUntilIdle();
    ASSERT_TRUE(slept);
    EXPECT_FALSE(*slept);
    EXPECT_EQ(ex.elapsed(), 100ms);
    EXPECT_EQ(ex.pendingTimers(), 0u);
    EXPECT_TRUE(handle.isDone());
}

TEST(Task, SleepAfterCancellationDoesNotSuspend) {
    VirtualExecutor ex;
    std::vector<bool> results;
    auto handle = spawn(ex, [&]() -> Task<void> {
        results.push_back(co_await sleepFor(1s));
        results.push_back(co_await isCancelled());
        results.push_back(co_await sleepFor(1s));
    });
    ex.runUntilIdle();
    handle.cancel();
    ex.runUntilIdle();
    EXPECT_EQ(results, (std::vector<bool>{false, true, false}));
}

TEST(Task, ReplacedFlashOnlyTheNewestTimerActs) {
    // The pattern used for the glyph: cancel the previous revert, start a new one.
    VirtualExecutor ex;
    std::vector<std::pair<std::string, Duration>> events;
    TaskHandle revert;
    auto flash = [&](std::string name, Duration d) {
        revert.cancel();
        revert = spawn(ex, [&, name, d]() -> Task<void> {
            bool full = co_await sleepFor(d);
            if (!full || co_await isCancelled()) co_return;
            events.emplace_back(name, ex.elapsed());
        });
    };
    flash("warn", 1500ms);
    ex.advance(500ms);
    flash("ok", 900ms);
    ex.advance(5s);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, "ok");
    EXPECT_EQ(events[0].second, 1400ms);
}

TEST(Task, TaskWhoseOwnerIsGoneDoesNothing) {
    VirtualExecutor ex;
    int steps = 0;
    auto owner = std::make_unique<Lifetime>();
    spawn(ex, *owner, [&]() -> Task<void> {
        ++steps;
        co_await sleepFor(1s);
        ++steps;
    });
    ex.runUntilIdle();
    EXPECT_EQ(steps, 1);
    owner.reset();
    ex.advance(2s);
    EXPECT_EQ(steps, 1);
}

TEST(Task, TaskWhoseOwnerIsGoneBeforeStartNeverRuns) {
    VirtualExecutor ex;
    bool ran = false;
    auto owner = std::make_unique<Lifetime>();
    spawn(ex, *owner, [&]() -> Task<void> {
        ran = true;
        co_return;
    });
    owner.reset();
    ex.runUntilIdle();
    EXPECT_FALSE(ran);
}

TEST(Task, CallbackResultsResumeOnTheExecutor) {
    VirtualExecutor ex;
    std::function<void(std::string)> pending;
    std::string got;
    spawn(ex, [&]() -> Task<void> {
        got = co_await awaitCallback<std::string>([&](std::function<void(std::string)> resume) { pending = resume; });
    });
    ex.runUntilIdle();
    ASSERT_TRUE(pending);
    pending("late");
    pending("twice");  // only the first call counts
    EXPECT_EQ(got, "");
    ex.runUntilIdle();
    EXPECT_EQ(got, "late");
}

TEST(Task, BackgroundResultsHopBackToTheMainThread) {
    VirtualExecutor ex;
    ThreadWorkRunner runner(1);
    auto mainThread = std::this_thread::get_id();
    std::thread::id workerThread, resumedOn;
    bool done = false;
    spawn(ex, [&]() -> Task<void> {
        int v = co_await runInBackground(runner, [&] {
            workerThread = std::this_thread::get_id();
            return 42;
        });
        resumedOn = std::this_thread::get_id();
        EXPECT_EQ(v, 42);
        done = true;
    });
    ex.runUntilIdle();
    while (!done) {
        ASSERT_TRUE(ex.waitForPost(std::chrono::seconds(10)));
        ex.runUntilIdle();
    }
    EXPECT_NE(workerThread, mainThread);
    EXPECT_EQ(resumedOn, mainThread);
}

TEST(Task, BackgroundExceptionsReachTheTask) {
    VirtualExecutor ex;
    InlineWorkRunner runner;
    std::string caught;
    spawn(ex, [&]() -> Task<void> {
        try {
            co_await runInBackground(runner, []() -> int { throw std::runtime_error("worker failed"); });
        } catch (const std::exception& e) {
            caught = e.what();
        }
    });
    ex.runUntilIdle();
    EXPECT_EQ(caught, "worker failed");
}

TEST(Task, AbandonedTaskIsDestroyedWithoutLeaking) {
    // A task waiting on a callback that is dropped is freed, with its locals.
    auto flag = std::make_shared<int>(0);
    std::weak_ptr<int> weak = flag;
    {
        VirtualExecutor ex;
        std::function<void(int)> pending;
        spawn(ex, [&, flag]() -> Task<void> {
            auto local = flag;
            co_await awaitCallback<int>([&](std::function<void(int)> r) { pending = r; });
        });
        flag.reset();
        ex.runUntilIdle();
        EXPECT_FALSE(weak.expired());
        pending = nullptr;
    }
    EXPECT_TRUE(weak.expired());
}
