#include "Platform/LogindPowerMonitor.hpp"
#include "Support/Eventually.hpp"
#include "Support/StandInLogind.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(LogindPowerMonitor, SleepWaitsForTheHandBackOfAnActiveSession) {
    testing::PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    EXPECT_EQ(testing::sleepWaitsForTheHandBack(
                  bus,
                  [](const std::string& address) { return std::make_unique<LogindPowerMonitor>(address); },
                  [](auto condition) { return testing::eventually(condition); }),
              std::nullopt);
}

TEST(LogindPowerMonitor, WithoutABusItDoesNothing) {
    LogindPowerMonitor monitor("unix:path=/nonexistent/quorvane-test-bus");
    monitor.setControlActive(true);
    monitor.start([] { FAIL() << "no bus, no sleep"; }, [] { FAIL() << "no bus, no wake"; });
    EXPECT_FALSE(monitor.isListening());
}

} // namespace
} // namespace quorvane
