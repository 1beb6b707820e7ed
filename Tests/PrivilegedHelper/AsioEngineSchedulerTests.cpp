#include "PrivilegedHelper/AsioEngineScheduler.hpp"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace quorvane {
namespace {

// Waits (bounded) until the condition holds; a correctness check, not a measurement.
template <typename Condition>
bool eventually(std::mutex& mutex, std::condition_variable& changed, Condition done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), done);
}

TEST(AsioEngineSchedulerTest, RunsPostedWorkInOrderOnOneThread) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    AsioEngineScheduler scheduler;
    for (int i = 0; i < 20; ++i) {
        scheduler.post([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            changed.notify_all();
        });
    }
    ASSERT_TRUE(eventually(mutex, changed, [&] { return order.size() == 20; }));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(threads[i], threads[0]);
    }
    EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST(AsioEngineSchedulerTest, TicksRepeatAndStopJoins) {
    std::mutex mutex;
    std::condition_variable changed;
    int ticks = 0;
    AsioEngineScheduler scheduler;
    scheduler.startRepeating(5, [&] {
        std::lock_guard lock(mutex);
        ++ticks;
        changed.notify_all();
    });
    EXPECT_TRUE(eventually(mutex, changed, [&] { return ticks >= 3; }));
    scheduler.stop(); // joins both threads; a tick after this would touch a dead frame under ASan
}

} // namespace
} // namespace quorvane
