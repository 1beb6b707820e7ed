#include "Helpers/SensorReader.hpp"
#include "Helpers/ThermalControlCompatibility.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Support/MessageOf.hpp"
#include "Support/SimulatedMachine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using testing::SimulatedMachine;
using testing::tableProfile;
using Keys = std::vector<SimulatedKey>;

template <std::size_t N> std::vector<std::string> sorted(const SensorReader::KeyList<N>& names) {
    std::vector<std::string> result(names.begin(), names.end());
    std::sort(result.begin(), result.end());
    return result;
}

template <typename Names> void add(Keys& keys, const Names& names, float celsius) {
    for (const auto& name : names) {
        keys.push_back(SimulatedKey::flt(name, celsius));
    }
}

// "TpA0", "TpA1", ...: generic processor channels of an unverified layout; the first `valid` read 50.
Keys genericChannels(int count, int valid) {
    Keys keys;
    for (int i = 0; i < count; ++i) {
        const std::string name =
            "Tp" + std::string(1, static_cast<char>('A' + i / 10)) + std::to_string(i % 10);
        keys.push_back(SimulatedKey::flt(name, i < valid ? 50.0F : 10.0F));
    }
    return keys;
}

// A reader over a simulated machine, reached through the real bridge.
struct Bench {
    explicit Bench(SMCProfile profile) : machine(std::move(profile)) {}
    explicit Bench(Keys keys) : Bench(tableProfile(std::move(keys))) {}

    template <typename Names> void set(const Names& names, float celsius) {
        for (const auto& name : names) {
            machine.firmware.setFloat(SMCKey::fromString(name), celsius);
        }
    }
    std::string compositeFailure() {
        return testing::messageOf<SMCError>([&] { reader.readCPUCoreAverage(); });
    }

    SimulatedMachine machine;
    SensorReader reader{*machine.bridge};
};

TEST(SensorReaderProfileTest, VerifiedMac15_11ReadsCatalogueChannelsAndTwoZones) {
    Bench bench(*SMCProfiles::named("Mac15,11"));
    const CPUCoreAverage average = bench.reader.readCPUCoreAverage();
    EXPECT_TRUE(average.hasValidatedFanZoneTopology);
    EXPECT_TRUE(ThermalControlCompatibility::allowsControl("Mac15,11", average.hasValidatedFanZoneTopology));
    EXPECT_FALSE(ThermalControlCompatibility::allowsControl("Mac15,11", false));
    EXPECT_FALSE(ThermalControlCompatibility::allowsControl("Mac14,6", true));
    EXPECT_EQ(average.contributingKeys, sorted(SensorReader::m3CPUCoreKeys));
    EXPECT_EQ(average.gpuContributingKeys, sorted(SensorReader::m3GPUClusterKeys));
    EXPECT_EQ(average.fanZoneReadings.size(), 2U);
}

struct ZoneCase {
    std::array<float, 5> left;
    std::array<float, 5> right;
    double bias;
    std::size_t leftKeys;
    std::size_t rightKeys;
};

class FanZoneTest : public ::testing::TestWithParam<ZoneCase> {};

// Efficiency 50, bank A 70, bank B 60, GPU bank A 80, GPU bank B 50: the left zone computes 74.0
// from GPU bank A, the right one 60.2 from CPU bank B.
TEST_P(FanZoneTest, WorkedExampleShiftedByTheChassisBias) {
    const auto& param = GetParam();
    Bench bench(*SMCProfiles::named("Mac15,11"));
    bench.set(SensorReader::m3EfficiencyCoreKeys, 50);
    bench.set(SensorReader::m3PerformanceBankAKeys, 70);
    bench.set(SensorReader::m3PerformanceBankBKeys, 60);
    bench.set(SensorReader::m3GPUClusterBankAKeys, 80);
    bench.set(SensorReader::m3GPUClusterBankBKeys, 50);
    for (std::size_t i = 0; i < 5; ++i) {
        bench.set(std::array{SensorReader::m3LeftChassisKeys[i]}, param.left[i]);
        bench.set(std::array{SensorReader::m3RightChassisKeys[i]}, param.right[i]);
    }
    const CPUCoreAverage average = bench.reader.readCPUCoreAverage();
    ASSERT_EQ(average.fanZoneReadings.size(), 2U);
    const auto& left = average.fanZoneReadings[0];
    const auto& right = average.fanZoneReadings[1];
    EXPECT_EQ(left.driver, "GPU cluster bank A");
    EXPECT_EQ(right.driver, "CPU core bank B");
    EXPECT_NEAR(left.temperature, 74.0 + param.bias, 1e-9);
    EXPECT_NEAR(right.temperature, 60.2 - param.bias, 1e-9);
    EXPECT_NEAR(average.controlTemperature(), 74.0 + param.bias, 1e-9);
    // The zone's own bank (four GPU keys; six CPU keys plus four efficiency keys) and valid chassis keys.
    EXPECT_EQ(left.contributingKeys.size(), param.leftKeys);
    EXPECT_EQ(right.contributingKeys.size(), param.rightKeys);
}

INSTANTIATE_TEST_SUITE_P(ChassisChannels, FanZoneTest,
                         ::testing::Values(ZoneCase{{10, 10, 10, 10, 10}, {90, 90, 90, 90, 90}, 0.0, 4, 10},
                                           // One valid channel is no side temperature, so there is no bias.
                                           ZoneCase{{50, 10, 10, 10, 10}, {40, 40, 40, 40, 40}, 0.0, 4, 15},
                                           ZoneCase{{44, 44, 44, 44, 44}, {40, 40, 40, 40, 40}, 1.4, 9, 15},
                                           ZoneCase{
                                               {15, 15, 85, 85, 10}, {85, 85, 85, 86, 90}, -2.5, 8, 13}));

TEST(SensorReaderDiscoveryTest, KeepsOnlyTemperatureTypedTKeysAndSkipsUnreadableOnes) {
    Bench bench(Keys{
        SimulatedKey::flt("TA0P", 31.5F), SimulatedKey::raw("TB0T", "sp78", {0x1E, 0x80}), // 30.5
        SimulatedKey::raw("TC0s", "flt ", {0, 0}), // wrong size for the type
        SimulatedKey::ui8("TD0u", 40), SimulatedKey::ioft("TG0C", 51.9), SimulatedKey::flt("PSTR", 12.0F),
        SimulatedKey::flt("TH0x", 35.0F),
        SimulatedKey::flt("TW0P", 140.0F), // known, but never a plausible reading
    });
    bench.machine.firmware.hideKey(SMCKey::fromString("TH0x"));
    std::vector<std::string> known;
    for (const auto& info : bench.reader.discoverTemperatureSensors()) {
        known.push_back(info.keyName);
    }
    EXPECT_THAT(known, ElementsAre("TA0P", "TB0T", "TW0P"));
    EXPECT_THAT(bench.reader.readAllTemperatures(),
                ElementsAre(SensorReading{"TA0P", "TA0P", 31.5}, SensorReading{"TB0T", "TB0T", 30.5}));
    EXPECT_EQ(testing::messageOf<SMCError>(
                  [&] { bench.reader.readTemperature(SMCKey::fromString("TW0P"), "Wall"); }),
              "SMC read failed: Wall returned an implausible temperature");
}

// Catalogue keys are listed with their label and unit, apart from the temperatures, and never reach
// the composite; a catalogue key of another type or out of range, or a key outside it, is left out.
TEST(ElectricalCatalogueTest, CatalogueKeysAreListedApartFromTemperatures) {
    auto keys = genericChannels(4, 4);
    keys.insert(keys.end(), {SimulatedKey::flt("PSTR", 23.5F), SimulatedKey::flt("VD0R", 20.25F),
                             SimulatedKey::flt("ID0R", 3.0F), SimulatedKey::ui16("PDTR", 23),
                             SimulatedKey::flt("PHPC", 5000.0F), SimulatedKey::flt("PZZZ", 23.5F)});
    Bench bench(keys);
    EXPECT_THAT(bench.reader.readAllElectrical(),
                ::testing::UnorderedElementsAre(SensorReading{"PSTR", "Total System Power", 23.5, "W"},
                                                SensorReading{"VD0R", "AC Input Voltage", 20.25, "V"},
                                                SensorReading{"ID0R", "AC Input Current", 3.0, "A"}));
    EXPECT_EQ(bench.reader.readAllTemperatures().size(), 4U);
    EXPECT_EQ(bench.reader.readCPUCoreAverage().contributingKeys.size(), 4U);
}

struct WindowCase {
    float celsius;
    bool listed;
    bool dieValid;
};

class PlausibilityTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(PlausibilityTest, WindowsAreInclusive) {
    auto keys = genericChannels(4, 4);
    add(keys, std::array{"TpZZ", "TCMz"}, GetParam().celsius);
    Bench bench(keys);
    const auto average = bench.reader.readCPUCoreAverage();
    EXPECT_EQ(average.contributingKeys.size(), GetParam().dieValid ? 5U : 4U);
    EXPECT_EQ(average.hotspotTemperature.has_value(), GetParam().dieValid);
    EXPECT_EQ(bench.reader.readAllTemperatures().size(), GetParam().listed ? 6U : 4U);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, PlausibilityTest,
                         ::testing::Values(WindowCase{-40.0F, true, false}, WindowCase{-40.01F, false, false},
                                           WindowCase{125.0F, true, false}, WindowCase{125.01F, false, false},
                                           WindowCase{20.0F, true, true}, WindowCase{19.99F, true, false},
                                           WindowCase{115.0F, true, true}, WindowCase{115.01F, true, false}));

struct CountCase {
    bool graphics;
    int candidates;
    int valid;
    bool succeeds;
};

class ChannelCountTest : public ::testing::TestWithParam<CountCase> {};

// Processor channels: at least four and three quarters of the candidates. Graphics channels, once
// at least four are known: at least two and three quarters.
TEST_P(ChannelCountTest, MostCandidatesMustBeValid) {
    const auto [graphics, candidates, valid, succeeds] = GetParam();
    Keys keys = genericChannels(graphics ? 4 : candidates, graphics ? 4 : valid);
    for (int i = 0; graphics && i < candidates; ++i) {
        keys.push_back(SimulatedKey::flt(SensorReader::m3GPUClusterKeys[i], i < valid ? 60.0F : 10.0F));
    }
    Bench bench(keys);
    const std::string what = graphics ? "GPU cluster average" : "CPU Core Average";
    EXPECT_EQ(bench.compositeFailure(), succeeds ? "no error"
                                                 : "SMC read failed: " + what + " has only " +
                                                       std::to_string(valid) + " valid channels");
    // A graphics failure comes after the processor channels have been pinned.
    EXPECT_EQ(bench.reader.cpuContributors().has_value(), succeeds || graphics);
    const auto& pinned = graphics ? bench.reader.gpuContributors() : bench.reader.cpuContributors();
    EXPECT_EQ(pinned ? pinned->size() : 0U,
              succeeds && candidates >= 4 ? static_cast<std::size_t>(valid) : 0U);
}

INSTANTIATE_TEST_SUITE_P(Counts, ChannelCountTest,
                         ::testing::Values(CountCase{false, 16, 12, true}, CountCase{false, 16, 11, false},
                                           CountCase{false, 15, 12, true}, CountCase{false, 15, 11, false},
                                           CountCase{false, 5, 4, true}, CountCase{false, 3, 3, false},
                                           CountCase{true, 8, 6, true}, CountCase{true, 8, 5, false},
                                           // Three known graphics keys are not a layout to average.
                                           CountCase{true, 3, 0, true}));

TEST(SensorReaderPinningTest, ChannelsArePinnedAtTheFirstSuccessfulRead) {
    Bench bench(genericChannels(16, 13));
    EXPECT_EQ(bench.reader.readCPUCoreAverage().contributingKeys.size(), 13U);
    // Channels that recover later stay out; the pinned thirteen need ten of their own.
    bench.set(std::array{"TpB3", "TpB4", "TpB5"}, 60);
    EXPECT_EQ(bench.reader.readCPUCoreAverage().contributingKeys.size(), 13U);
    bench.set(std::array{"TpA0", "TpA1", "TpA2"}, 10);
    EXPECT_EQ(bench.reader.readCPUCoreAverage().temperature, 50.0);
    bench.set(std::array{"TpA3"}, 10);
    EXPECT_EQ(bench.compositeFailure(), "SMC read failed: CPU Core Average has only 9 valid channels");
}

TEST(SensorReaderTopologyTest, ThreeOfSixBankAKeysFallBackToGenericChannels) {
    Keys keys;
    add(keys, SensorReader::m3EfficiencyCoreKeys, 50);
    add(keys, std::array{"Tf04", "Tf09", "Tf0A"}, 90);
    add(keys, SensorReader::m3PerformanceBankBKeys, 90);
    add(keys, SensorReader::m3GPUClusterKeys, 70);
    add(keys, std::array{"Tp01", "Tp02", "Tp03", "Tp04"}, 60);
    const auto average = Bench(keys).reader.readCPUCoreAverage();
    EXPECT_FALSE(average.hasValidatedFanZoneTopology);
    EXPECT_THAT(average.contributingKeys,
                ElementsAre("Te05", "Te0L", "Te0P", "Te0S", "Tp01", "Tp02", "Tp03", "Tp04"));
    EXPECT_FALSE(average.performanceAverageTemperature.has_value());
    EXPECT_TRUE(average.fanZoneReadings.empty());
    EXPECT_DOUBLE_EQ(average.temperature, 55.0);
    EXPECT_DOUBLE_EQ(average.controlTemperature(), 70.0);
}

TEST(SensorReaderTopologyTest, MinimumVerifiedLayoutKeepsZonesAndTiesGoToTheProcessor) {
    Keys keys;
    add(keys,
        std::array{"Te05", "Te0L", "Te0P", "Tf04", "Tf09", "Tf0A", "Tf0B", "Tf44", "Tf49", "Tf4A", "Tf4B"},
        60);
    add(keys, SensorReader::m3GPUClusterKeys, 60);
    const auto tied = Bench(keys).reader.readCPUCoreAverage();
    EXPECT_TRUE(tied.hasValidatedFanZoneTopology);
    ASSERT_EQ(tied.fanZoneReadings.size(), 2U);
    EXPECT_EQ(tied.fanZoneReadings[0].driver, "CPU core bank A");
    EXPECT_EQ(tied.fanZoneReadings[1].driver, "CPU core bank B");
}

} // namespace
} // namespace quorvane
