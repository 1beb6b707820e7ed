#include "Helpers/Clock.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "SMC/SMCError.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedFault.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Simulator/SimulatorError.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace quorvane {
namespace {

using ::testing::HasSubstr;

struct Parsed {
    std::vector<std::string> words;
    const char* description;
};

class SimulatedFaultParseTest : public ::testing::TestWithParam<Parsed> {};

TEST_P(SimulatedFaultParseTest, ReadsTheCommandLineAndSurvivesTheWire) {
    const auto fault = SimulatedFault::parse(GetParam().words);
    EXPECT_EQ(fault.description(), GetParam().description);
    EXPECT_EQ(SimulatedFault::fromJSON(nlohmann::json::parse(fault.toJSON().dump())).description(),
              GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SimulatedFaultParseTest,
    ::testing::Values(Parsed{{"transient", "F0Md"}, "F0Md answers 0x82 to the next exchange"},
                      Parsed{{"transient", "F0Md", "0x83", "--count", "3", "--writes"},
                             "F0Md answers 0x83 to the next 3 exchanges (writes)"},
                      Parsed{{"transient", "TCMz", "130", "--reads", "--count", "always"},
                             "TCMz answers 0x82 to every exchange (reads)"},
                      Parsed{{"missing", "Te05"}, "Te05 is missing"},
                      Parsed{{"stuck", "F1Md", "3"}, "F1Md is stuck at 0x03"},
                      Parsed{{"target-ignored", "1"}, "fan 1 ignores its target"},
                      Parsed{{"dropout", "Tf04"}, "Tf04 has dropped out"},
                      Parsed{{"spike", "TCMz", "-12.5", "--seconds", "3"},
                             "TCMz spikes by -12.5 °C for 3 s"}));

TEST(SimulatedFaultTest, RefusesWhatItCannotUse) {
    const auto message = [](std::vector<std::string> words) {
        try {
            SimulatedFault::parse(words);
        } catch (const SimulatorError& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_THAT(message({"melt", "TCMz"}), HasSubstr("Unknown fault \"melt\""));
    EXPECT_THAT(message({"melt", "TCMz"}), HasSubstr("target-ignored FAN"));
    EXPECT_THAT(message({"missing", "TCM"}), HasSubstr("\"TCM\" is not an SMC key"));
    EXPECT_THAT(message({"stuck", "F0Md", "256"}), HasSubstr("\"256\" is not a valid byte"));
    EXPECT_THAT(message({"stuck", "F0Md"}), HasSubstr("Wrong arguments for a stuck fault"));
    EXPECT_THAT(message({"transient", "F0Md", "--count", "0"}), HasSubstr("count other than 0"));
    EXPECT_THAT(message({"target-ignored", "10"}), HasSubstr("Fan 10 does not exist"));
    EXPECT_THAT(message({"dropout", "TCMz", "--seconds", "3"}), HasSubstr("Unknown option \"--seconds\""));
    EXPECT_THAT(message({}), HasSubstr("Which fault?"));
    // From a control connection: numbers that do not fit are refused, never wrapped or cast.
    for (const char* wire :
         {R"({"kind":"stuck","key":"F0Md","byte":300})", R"({"kind":"stuck","key":"F0Md","byte":2.5})",
          R"({"kind":"target-ignored","fan":1e10})",
          R"({"kind":"transient","key":"F0Md","result":130,"count":4294967297,"scope":"any"})"}) {
        EXPECT_THROW(SimulatedFault::fromJSON(nlohmann::json::parse(wire)), SimulatorError) << wire;
    }
}

struct FaultyMachine {
    FaultyMachine()
        : mac(SMCProfiles::mac15_11(), clock),
          bridge(mac.makeUserClient(), SMCWriteCapability::privilegedHelper) {
        bridge.open();
    }
    void inject(std::vector<std::string> words) { mac.injectFault(SimulatedFault::parse(words)); }
    void run(int seconds) {
        for (int i = 0; i < seconds; ++i) {
            clock.advance(1000);
            mac.advanceToNow();
        }
    }

    VirtualClock clock;
    SimulatedMac mac;
    IOKitSMCBridge bridge;
};

TEST(SimulatedFaultTest, SensorFaultsShowInReadingsAndStatusUntilTheyEnd) {
    FaultyMachine machine;
    const SMCKey hotspot = SMCKey::fromString("TCMz");
    const double before = machine.bridge.readTemperature(hotspot);
    machine.inject({"spike", "TCMz", "30", "--seconds", "5"});
    machine.inject({"dropout", "Tf04"});
    EXPECT_NEAR(machine.bridge.readTemperature(hotspot), before + 30.0, 1.5);
    EXPECT_EQ(machine.bridge.readTemperature(SMCKey::fromString("Tf04")), 0.0);
    EXPECT_EQ(machine.mac.status().faults,
              (std::vector<std::string>{"TCMz spikes by +30.0 °C for 5 s", "Tf04 has dropped out"}));

    machine.run(5);
    EXPECT_NEAR(machine.bridge.readTemperature(hotspot), before, 1.5);
    EXPECT_EQ(machine.mac.status().faults, (std::vector<std::string>{"Tf04 has dropped out"}));
    machine.mac.clearFaults();
    EXPECT_GT(machine.bridge.readTemperature(SMCKey::fromString("Tf04")), 30.0);
    EXPECT_TRUE(machine.mac.status().faults.empty());
}

TEST(SimulatedFaultTest, FirmwareFaultsReachTheFirmwareAndSpentOnesLeaveTheStatus) {
    FaultyMachine machine;
    machine.inject({"transient", "F0Ac", "0x82", "--count", "2", "--reads"});
    machine.inject({"missing", "Te05"});
    EXPECT_EQ(machine.mac.status().faults.size(), 2u);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(machine.bridge.readFanRPM(SMCKey::fan(0, "Ac")), SMCError);
    }
    EXPECT_EQ(machine.bridge.readFanRPM(SMCKey::fan(0, "Ac")), 0);
    EXPECT_EQ(machine.mac.status().faults, (std::vector<std::string>{"Te05 is missing"}));
    EXPECT_THROW(machine.bridge.readTemperature(SMCKey::fromString("Te05")), SMCError);
}

TEST(SimulatedFaultTest, KeysSensorsAndFansTheMachineLacksAreRefused) {
    FaultyMachine machine;
    const auto refusal = [&](std::vector<std::string> words) {
        try {
            machine.inject(words);
        } catch (const SimulatorError& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal({"missing", "ZZZZ"}), "The simulated Mac15,11 has no key \"ZZZZ\"");
    EXPECT_EQ(refusal({"spike", "F0Ac"}), "The simulated Mac15,11 has no temperature sensor \"F0Ac\"");
    EXPECT_EQ(refusal({"target-ignored", "2"}), "The simulated Mac15,11 has no fan 2");
    EXPECT_TRUE(machine.mac.status().faults.empty());
}

} // namespace
} // namespace quorvane
