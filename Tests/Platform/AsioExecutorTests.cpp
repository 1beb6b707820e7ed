#include "Platform/AsioMainExecutor.hpp"
#include "Platform/AsioWorkQueue.hpp"
#include "Support/Collected.hpp"

#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace quorvane {
namespace {

TEST(AsioWorkQueue, RunsWorkInOrderOnItsOwnThreadAndFinishesItBeforeGoing) {
    std::vector<std::pair<int, std::thread::id>> ran;
    {
        AsioWorkQueue queue("com.orvalith.quorvane.smc-poll");
        for (int task = 0; task < 100; ++task) {
            queue.post([&, task] { ran.emplace_back(task, std::this_thread::get_id()); });
        }
    }
    ASSERT_EQ(ran.size(), 100u);
    for (int task = 0; task < 100; ++task) {
        EXPECT_EQ(ran[task].first, task);
        EXPECT_EQ(ran[task].second, ran[0].second);
    }
    EXPECT_NE(ran[0].second, std::this_thread::get_id());
}

TEST(AsioWorkQueue, CancelledTimerStopsTicking) {
    AsioWorkQueue queue("com.orvalith.quorvane.helper-heartbeat");
    int fastTicks = 0; // touched on the queue's thread only
    std::promise<MainExecutor::TimerID> fast;
    auto fastID = fast.get_future().share();
    fast.set_value(queue.scheduleRepeating(1, [&] {
        if (++fastTicks == 3) {
            queue.cancel(fastID.get());
        }
    }));
    // Between two slow ticks a live fast timer ticks at least once, so ten slow ticks see it
    // cancelled for good.
    testing::Collected<int> slowTicks;
    queue.scheduleRepeating(20, [&] { slowTicks.add(fastTicks); });
    ASSERT_TRUE(slowTicks.waitFor(10));
    EXPECT_EQ(slowTicks.values().back(), 3);
}

TEST(AsioMainExecutor, RunsWorkAndTimersOnTheCallingThreadUntilStopped) {
    AsioMainExecutor executor;
    std::vector<std::thread::id> ran;
    int ticks = 0;
    executor.scheduleRepeating(1, [&] {
        ran.push_back(std::this_thread::get_id());
        if (++ticks == 3) {
            executor.stop();
        }
    });
    std::thread poster([&] { executor.post([&] { ran.push_back(std::this_thread::get_id()); }); });
    executor.run();
    poster.join();
    ASSERT_GE(ran.size(), 3u);
    EXPECT_EQ(std::count(ran.begin(), ran.end(), std::this_thread::get_id()), static_cast<long>(ran.size()));

    bool ranAfterStop = false;
    executor.post([&] { ranAfterStop = true; });
    executor.run();
    EXPECT_FALSE(ranAfterStop) << "a stopped loop stays stopped";
}

} // namespace
} // namespace quorvane
