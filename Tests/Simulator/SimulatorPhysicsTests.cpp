#include "Helpers/Clock.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedMac.hpp"

#include <algorithm>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using Group = ThermalLayout::Group;

struct Settled {
    double core;
    double die;
};

// The hottest core and die after `seconds` of a workload on the M3 Max, its fans
// left to the system or pinned at their maximum, in one-second ticks as a server at normal speed sees them.
Settled settle(const char* workload, bool fullFans, int seconds = 900, std::uint64_t seed = 1) {
    auto profile = SMCProfiles::mac15_11();
    profile.fanTimings.requiresUnlock = false; // so the fans can be pinned at once
    VirtualClock clock;
    SimulatedMac mac(std::move(profile), clock, seed);
    if (fullFans) {
        IOKitSMCBridge bridge(mac.makeUserClient(), SMCWriteCapability::privilegedHelper);
        bridge.open();
        for (int fan = 0; fan < 2; ++fan) {
            bridge.writeKey(SMCKey::fan(fan, "Md"), SMCValue::uint8(1));
            bridge.writeKey(SMCKey::fan(fan, "Tg"), bridge.readKey(SMCKey::fan(fan, "Mx")));
        }
    }
    mac.setWorkload(Workload::named(workload));
    for (int second = 0; second < seconds; ++second) {
        clock.advance(1000);
        mac.advanceToNow();
    }
    const double core = std::max({*mac.hottest(Group::efficiencyCores), *mac.hottest(Group::performanceBankA),
                                  *mac.hottest(Group::performanceBankB)});
    return {core, std::max({core, *mac.hottest(Group::gpuBankA), *mac.hottest(Group::gpuBankB),
                            *mac.hottest(Group::cpuHotspot), *mac.hottest(Group::gpuHotspot)})};
}

// What the other tests lean on: load warms the die, full fans cool it, a runaway passes the
// critical 105 °C even at full fans, and a seed repeats its run.
TEST(SimulatorPhysicsTest, LoadWarmsFullFansCoolRunawayPassesTheCriticalLineAndSeedsRepeat) {
    const Settled idle = settle("idle", false);
    const Settled steady = settle("steady", false);
    EXPECT_LT(idle.core + 20.0, steady.core);
    EXPECT_LT(settle("steady", true).core + 5.0, steady.core);
    EXPECT_GE(settle("runaway", true).die, 105.0);

    EXPECT_EQ(settle("bursty", false, 60, 7).die, settle("bursty", false, 60, 7).die);
    EXPECT_NE(settle("bursty", false, 60, 7).die, settle("bursty", false, 60, 8).die);
}

} // namespace
} // namespace quorvane
