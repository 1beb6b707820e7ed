#include "PrivilegedHelper/AsioEngineScheduler.hpp"
#include "Support/Eventually.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <vector>

namespace quorvane {
namespace {

using testing::eventually;

// Resets run in order on one thread of their own; stop() lets the queued ones finish, then no tick
// or reset runs any more (a later one would touch this frame after it is gone).
TEST(AsioEngineSchedulerTest, RunsPostedWorkInOrderOffTheCallerAndStopFinishesItThenEndsTicks) {
    std::vector<std::pair<int, std::thread::id>> ran;
    std::atomic<int> ticks = 0;
    AsioEngineScheduler scheduler;
    scheduler.startRepeating(1, [&] { ++ticks; });
    ASSERT_TRUE(eventually([&] { return ticks >= 3; }));
    for (int i = 0; i < 200; ++i) {
        scheduler.post([&, i] { ran.emplace_back(i, std::this_thread::get_id()); });
    }
    scheduler.stop();
    const int ticksAtStop = ticks;
    ASSERT_EQ(ran.size(), 200u) << "stop() returned before the queued resets ran";
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(ran[i].first, i);
        EXPECT_EQ(ran[i].second, ran[0].second);
    }
    EXPECT_NE(ran[0].second, std::this_thread::get_id());
    scheduler.post([&] { ran.emplace_back(-1, std::this_thread::get_id()); });
    EXPECT_FALSE(
        eventually([&] { return ticks > ticksAtStop || ran.size() > 200; }, std::chrono::milliseconds(50)))
        << "work ran after stop()";
}

} // namespace
} // namespace quorvane
