#include "Helpers/Clock.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Simulator/WorkloadScript.hpp"

#include <gtest/gtest.h>
#include <map>

namespace quorvane {
namespace {

using Group = ThermalLayout::Group;

// The M3 Max whose fans take manual mode at once, so a test can pin them at full speed.
SMCProfile unlockedMac15_11() {
    auto profile = SMCProfiles::mac15_11();
    profile.fanTimings.requiresUnlock = false;
    return profile;
}

float profileValue(const SMCProfile& profile, std::string_view name) {
    for (const auto& key : profile.keys) {
        if (key.key == SMCKey::fromString(name)) {
            return *SimulatedKey::floatFromBytes(key.bytes);
        }
    }
    ADD_FAILURE() << name << " is not in the profile";
    return 0;
}

struct Machine {
    explicit Machine(SMCProfile profile = unlockedMac15_11(), std::uint64_t seed = 1)
        : mac(std::move(profile), clock, seed) {}

    // Simulated seconds in one-second ticks, as a server at normal speed sees them.
    void run(int seconds) {
        for (int i = 0; i < seconds; ++i) {
            clock.advance(1000);
            mac.advanceToNow();
        }
    }

    void pinFansAtMaximum() {
        IOKitSMCBridge bridge(mac.makeUserClient(), SMCWriteCapability::privilegedHelper);
        bridge.open();
        for (int fan = 0; fan < 2; ++fan) {
            bridge.writeKey(SMCKey::fan(fan, "Md"), SMCValue::uint8(1));
            const auto maximum = bridge.readKey(SMCKey::fan(fan, "Mx")).asFloat().value();
            bridge.writeKey(SMCKey::fan(fan, "Tg"), SMCValue::float32(maximum));
        }
    }

    double hottestCore() {
        return std::max({*mac.hottest(Group::efficiencyCores), *mac.hottest(Group::performanceBankA),
                         *mac.hottest(Group::performanceBankB)});
    }
    double hottestDie() {
        return std::max({hottestCore(), *mac.hottest(Group::gpuBankA), *mac.hottest(Group::gpuBankB),
                         *mac.hottest(Group::cpuHotspot), *mac.hottest(Group::gpuHotspot)});
    }
    float fanSpeed(int fan) { return mac.status().fans.at(fan).actualRPM; }

    VirtualClock clock;
    SimulatedMac mac;
};

TEST(SimulatorPhysicsTest, IdleSettlesAtTheWarmIdleReadingsWithTheFansStill) {
    Machine machine;
    machine.mac.setWorkload(Workload::named("steady"));
    machine.run(600);
    machine.mac.setWorkload(Workload::named("idle"));
    machine.run(3600);

    // Warm-idle ranges of the M3 Max dumps, give or take the noise.
    for (const char* key : {"Te05", "Te0L", "Te0P", "Te0S"}) {
        EXPECT_NEAR(*machine.mac.temperature(key), 42.65, 1.15 + 1.0) << key;
    }
    for (const char* key : {"Tf04", "Tf09", "Tf0A", "Tf0B", "Tf0D", "Tf0E"}) {
        EXPECT_NEAR(*machine.mac.temperature(key), 38.15, 2.05 + 1.0) << key;
    }
    for (const char* key : {"Tf14", "Tf18", "Tf19", "Tf1A", "Tf24", "Tf28", "Tf29", "Tf2A"}) {
        EXPECT_NEAR(*machine.mac.temperature(key), 35.1, 0.5 + 1.0) << key;
    }
    const auto profile = SMCProfiles::mac15_11();
    for (const char* key : {"TCMz", "TRDX", "TaLP", "TaRF", "TDeL", "TDeR", "Th00"}) {
        EXPECT_NEAR(*machine.mac.temperature(key), profileValue(profile, key), 1.5) << key;
    }
    EXPECT_EQ(machine.fanSpeed(0), 0.0f);
    EXPECT_EQ(machine.fanSpeed(1), 0.0f);
}

TEST(SimulatorPhysicsTest, LoadHeatsTheDieTheSystemCurveSpinsTheFansAndFullFansCoolItNoticeably) {
    std::map<std::string, double> hottest;
    std::map<std::string, double> systemPower;
    double automaticPalmRest = 0;
    for (const char* workload : {"idle", "light", "steady"}) {
        Machine machine;
        machine.mac.setWorkload(Workload::named(workload));
        machine.run(900);
        hottest[workload] = machine.hottestCore();
        // The whole machine draws more than its SoC; settled, the heat pipes carry all the SoC's heat.
        const double soc = machine.mac.effectivePower().total();
        systemPower[workload] = *machine.mac.temperature("PSTR");
        EXPECT_GT(systemPower[workload], soc) << workload;
        EXPECT_NEAR(*machine.mac.temperature("PHPC"), soc, 0.05 * soc) << workload;
        if (std::string(workload) == "steady") {
            EXPECT_GT(hottest[workload], 90.0);
            EXPECT_LE(hottest[workload], 115.0);
            EXPECT_GT(machine.fanSpeed(0), 1200.0f);
            EXPECT_GT(machine.fanSpeed(1), 1200.0f);
            automaticPalmRest = *machine.mac.temperature("TaLP");
        }
    }
    EXPECT_LT(hottest["idle"] + 3, hottest["light"]);
    EXPECT_LT(hottest["light"] + 20, hottest["steady"]);
    EXPECT_LT(systemPower["idle"] + 3, systemPower["light"]);
    EXPECT_LT(systemPower["light"] + 20, systemPower["steady"]);

    Machine pinned;
    pinned.pinFansAtMaximum();
    pinned.mac.setWorkload(Workload::named("steady"));
    pinned.run(900);
    EXPECT_EQ(pinned.fanSpeed(0), 6900.0f);
    EXPECT_LT(pinned.hottestCore() + 5.0, hottest["steady"]);
    EXPECT_LT(*pinned.mac.temperature("TaLP") + 3.0, automaticPalmRest);
}

TEST(SimulatorPhysicsTest, RunawayPassesTheCriticalLineEvenAtFullFans) {
    Machine machine;
    machine.pinFansAtMaximum();
    machine.mac.setWorkload(Workload::named("runaway"));
    machine.run(900);
    EXPECT_GE(machine.hottestDie(), 105.0);
    // Throttling holds the cores inside the range real sensors report.
    EXPECT_LE(machine.hottestCore(), 115.0);
}

TEST(SimulatorPhysicsTest, EachChassisSideFollowsTheBanksOnItsSide) {
    const auto sideRise = [](const char* power) {
        Machine machine;
        const double left = *machine.mac.hottest(Group::leftChassis);
        const double right = *machine.mac.hottest(Group::rightChassis);
        machine.mac.setWorkload(WorkloadScript::parse(
            std::string(R"({"steps": [{"seconds": 1, "power": )") + power + "}]}", "test"));
        machine.run(600);
        return std::make_pair(*machine.mac.hottest(Group::leftChassis) - left,
                              *machine.mac.hottest(Group::rightChassis) - right);
    };
    const auto bankA = sideRise(R"({"performanceA": 18, "gpuA": 12})");
    EXPECT_GT(bankA.first, bankA.second + 1.0);
    const auto bankB = sideRise(R"({"performanceB": 18, "gpuB": 12})");
    EXPECT_GT(bankB.second, bankB.first + 1.0);
}

TEST(SimulatorPhysicsTest, GPUWorkHeatsTheGPUBanksAndHotspotsStayOnTop) {
    Machine machine;
    machine.mac.setWorkload(Workload::named("gpu-heavy"));
    for (int second = 0; second < 600; second += 10) {
        machine.run(10);
        ASSERT_GT(*machine.mac.hottest(Group::cpuHotspot), machine.hottestCore()) << second;
        ASSERT_GT(*machine.mac.hottest(Group::gpuHotspot),
                  std::max(*machine.mac.hottest(Group::gpuBankA), *machine.mac.hottest(Group::gpuBankB)))
            << second;
    }
    EXPECT_GT(*machine.mac.hottest(Group::gpuBankA), *machine.mac.hottest(Group::performanceBankA) + 10.0);
}

TEST(SimulatorPhysicsTest, PlaceholdersAndSentinelsKeepTheirValuesUnderLoad) {
    Machine machine;
    const auto before = machine.mac.temperature("TAOL").value();
    machine.mac.setWorkload(Workload::named("steady"));
    machine.run(600);
    EXPECT_EQ(*machine.mac.temperature("Tp1g"), 40.0f);
    EXPECT_EQ(*machine.mac.temperature("Tf0C"), 1.0f);
    EXPECT_EQ(*machine.mac.temperature("Tz11"), 0.0f);
    EXPECT_EQ(*machine.mac.temperature("Tg0K"), -2.75f);
    EXPECT_EQ(*machine.mac.temperature("Tg0L"), -8.75f);
    // Ambient-like channels drift little, board channels more, the die most.
    EXPECT_NEAR(*machine.mac.temperature("TAOL"), before, 1.0);
    EXPECT_GT(*machine.mac.temperature("Th00"), profileValue(SMCProfiles::mac15_11(), "Th00") + 3.0);
}

TEST(SimulatorPhysicsTest, TheSameSeedGivesTheSameRun) {
    const auto readings = [](std::uint64_t seed) {
        Machine machine(unlockedMac15_11(), seed);
        machine.mac.setWorkload(Workload::named("bursty"));
        std::vector<float> values;
        for (int i = 0; i < 60; ++i) {
            machine.run(1);
            values.push_back(*machine.mac.temperature("Tf04"));
            values.push_back(*machine.mac.temperature("TCMz"));
        }
        return values;
    };
    EXPECT_EQ(readings(7), readings(7));
    EXPECT_NE(readings(7), readings(8));
}

TEST(SimulatorPhysicsTest, AFanlessMachineThrottlesInsteadOfBurning) {
    Machine machine(SMCProfiles::mac14_2());
    machine.mac.setWorkload(Workload::named("runaway"));
    machine.run(1800);
    EXPECT_TRUE(machine.mac.status().fans.empty());
    EXPECT_GT(machine.hottestCore(), 100.0);
    EXPECT_LT(machine.hottestCore(), 115.0);
    EXPECT_LT(machine.mac.effectivePower().total(), 60.0);
    // No fans, no heat pipes: only the machine's own draw is published.
    EXPECT_GT(*machine.mac.temperature("PSTR"), machine.mac.effectivePower().total());
    EXPECT_EQ(machine.mac.temperature("PHPC"), std::nullopt);
}

} // namespace
} // namespace quorvane
