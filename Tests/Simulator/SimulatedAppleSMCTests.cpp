#include "Simulator/SMCProfiles.hpp"
#include "Support/FirmwareHarness.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::FirmwareHarness;

SMCProfile smallTable() {
    SMCProfile profile;
    profile.fanTimings.requiresUnlock = false;
    // Deliberately unsorted.
    profile.keys = {SimulatedKey::flt("TCMz", 50.0f), SimulatedKey::ui8("BRSC", 80, 0xC0),
                    SimulatedKey::ui16("BCyc", 312), SimulatedKey::raw("PRIV", "ui8 ", {7}, 0x02),
                    SimulatedKey::flt("Ac00", 1.0f)};
    return profile;
}

class SimulatedAppleSMCTest : public ::testing::Test {
protected:
    std::string keyAt(std::uint32_t index) {
        return IOKitSMCBridge::stringFromKey(
            SMCKey(machine.call(SMCParamStruct::keyByIndex, "", 0, {}, index).key()));
    }

    FirmwareHarness machine{smallTable()};
};

TEST_F(SimulatedAppleSMCTest, EnumeratesASortedTableCountedByKEY) {
    std::vector<std::string> keys;
    for (std::uint32_t index = 0; index < 6; ++index) {
        keys.push_back(keyAt(index));
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"#KEY", "Ac00", "BCyc", "BRSC", "PRIV", "TCMz"}));
    EXPECT_EQ(machine.call(SMCParamStruct::keyByIndex, "", 0, {}, 6).result(),
              SMCParamStruct::keyIndexOutOfRange);
    EXPECT_EQ(machine.read("#KEY"), (std::vector<std::uint8_t>{0, 0, 0, 6}));
    EXPECT_EQ(machine.read("BCyc"), (std::vector<std::uint8_t>{0x01, 0x38}));
}

struct ResultCase {
    const char* label;
    std::uint8_t command;
    const char* key;
    std::uint32_t dataSize;
    std::uint8_t expected;
};

class SimulatedAppleSMCResultTest : public SimulatedAppleSMCTest,
                                    public ::testing::WithParamInterface<ResultCase> {};

TEST_P(SimulatedAppleSMCResultTest, AnswersTheFirmwareResultByteWithoutEffect) {
    const auto& param = GetParam();
    const auto before = machine.firmware.valueBytes(SMCKey::fromString(param.key));
    EXPECT_EQ(machine.call(param.command, param.key, param.dataSize, {9, 9}).result(), param.expected);
    EXPECT_EQ(machine.firmware.valueBytes(SMCKey::fromString(param.key)), before);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, SimulatedAppleSMCResultTest,
    ::testing::Values(ResultCase{"infoMissing", SMCParamStruct::keyInfo, "ZZZZ", 0, 0x84},
                      ResultCase{"readMissing", SMCParamStruct::readBytes, "ZZZZ", 4, 0x84},
                      ResultCase{"writeMissing", SMCParamStruct::writeBytes, "ZZZZ", 1, 0x84},
                      ResultCase{"readPrivate", SMCParamStruct::readBytes, "PRIV", 1, 0x85},
                      ResultCase{"writeReadOnly", SMCParamStruct::writeBytes, "BCyc", 2, 0x86},
                      ResultCase{"writeKeyCount", SMCParamStruct::writeBytes, "#KEY", 4, 0x86},
                      ResultCase{"writeWrongSize", SMCParamStruct::writeBytes, "BRSC", 2, 0x87},
                      ResultCase{"readWrongSize", SMCParamStruct::readBytes, "BCyc", 4, 0x87},
                      ResultCase{"limitsCommand", 11, "BRSC", 1, 0x82}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SimulatedAppleSMCTest, TheKernelRefusesMalformedCallsAndUnprivilegedWrites) {
    auto user = machine.firmware.makeUserClient(false);
    const auto write = FirmwareHarness::record(SMCParamStruct::writeBytes, "BRSC", 1, {5});
    SMCParamStruct output;
    std::size_t size = SMCParamStruct::size;
    EXPECT_EQ(user->callStructMethod(2, write, output, size), IOKitReturn::notOpen);
    const auto before = machine.firmware.exchangeCount();
    ASSERT_EQ(user->open(), IOKitReturn::success);
    EXPECT_EQ(user->callStructMethod(2, write, output, size), IOKitReturn::notPrivileged);
    EXPECT_EQ(user->callStructMethod(3, write, output, size), IOKitReturn::badArgument);
    size = 40;
    EXPECT_EQ(user->callStructMethod(2, write, output, size), IOKitReturn::badArgument);
    EXPECT_EQ(machine.firmware.exchangeCount() - before, 3u);

    size = SMCParamStruct::size;
    EXPECT_EQ(user->callStructMethod(2, FirmwareHarness::record(SMCParamStruct::readBytes, "BRSC", 1), output,
                                     size),
              IOKitReturn::success);
    EXPECT_EQ(output.bytes()[0], 80);
}

// Timings short and distinct enough that an off-by-one shows: unlock 100 ms, window 400 ms, mode
// latch 30 ms, release 350 ms.
TEST(SimulatedAppleSMCFanTest, SystemKeepsTheFansUntilTheUnlockHasSettled) {
    auto profile = SMCProfiles::mac15_11();
    profile.fanTimings = FanTimings{true, 100, 400, 30, 350, 1000.0};
    FirmwareHarness machine(profile);
    EXPECT_EQ(machine.writeByte("F0Md", 1), 0);
    machine.clock.advance(5000);
    EXPECT_EQ(machine.readByte("F0Md"), 3);

    EXPECT_EQ(machine.writeByte("Ftst", 1), 0);
    machine.clock.advance(99);
    EXPECT_EQ(machine.readByte("Ftst"), 0);
    EXPECT_EQ(machine.writeByte("Ftst", 1), 0); // does not restart the latch
    machine.clock.advance(1);
    EXPECT_EQ(machine.readByte("Ftst"), 1);

    // One millisecond short of the unlock window a write is accepted and lost; at its end it takes.
    machine.clock.advance(399);
    EXPECT_EQ(machine.writeByte("F1Md", 1), 0);
    machine.clock.advance(1);
    EXPECT_EQ(machine.writeByte("F0Md", 1), 0);
    machine.clock.advance(20);
    EXPECT_EQ(machine.writeByte("F0Md", 1), 0); // same value: the delay runs on
    machine.clock.advance(9);
    EXPECT_EQ(machine.readByte("F0Md"), 3);
    machine.clock.advance(1);
    EXPECT_EQ(machine.readByte("F0Md"), 1);
    machine.clock.advance(1000);
    EXPECT_EQ(machine.readByte("F1Md"), 3);

    // Handing back: the flag clears at once, the fans follow after the release delay.
    EXPECT_EQ(machine.writeByte("Ftst", 0), 0);
    EXPECT_EQ(machine.readByte("Ftst"), 0);
    machine.clock.advance(349);
    EXPECT_EQ(machine.readByte("F0Md"), 1);
    machine.clock.advance(1);
    EXPECT_EQ(machine.readByte("F0Md"), 3);
    // Locked again: a fresh mode write does not latch.
    EXPECT_EQ(machine.writeByte("F0Md", 1), 0);
    machine.clock.advance(1000);
    EXPECT_EQ(machine.readByte("F0Md"), 3);
}

} // namespace
} // namespace quorvane
