#include "Platform/AsioMainExecutor.hpp"
#include "Platform/AsioWorkQueue.hpp"
#include "Support/Eventually.hpp"

#include <atomic>
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
    std::atomic<int> ticks = 0;
    std::promise<MainExecutor::TimerID> timer;
    auto id = timer.get_future().share();
    timer.set_value(queue.scheduleRepeating(1, [&] {
        if (++ticks == 3) {
            queue.cancel(id.get());
        }
    }));
    ASSERT_TRUE(testing::eventually([&] { return ticks >= 3; }));
    EXPECT_FALSE(testing::eventually([&] { return ticks > 3; }, std::chrono::milliseconds(50)))
        << "a cancelled timer ticked again";
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
