#include "SMC/IOKitReturn.hpp"
#include "SMC/SMCParamStruct.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Support/SimulatedMachine.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::SimulatedMachine;

SMCParamStruct record(std::uint8_t command, std::string_view key, std::uint32_t dataSize = 0,
                      const std::vector<std::uint8_t>& bytes = {}) {
    SMCParamStruct input;
    input.setKey(SMCKey::fromString(key).rawValue);
    input.setCommand(command);
    input.setDataSize(dataSize);
    std::copy(bytes.begin(), bytes.end(), input.bytes().begin());
    return input;
}

// The firmware spoken to in raw records the way a bridge would, past the bridge's checks.
struct Firmware : SimulatedMachine {
    using SimulatedMachine::SimulatedMachine;

    SMCParamStruct call(std::uint8_t command, std::string_view key, std::uint32_t dataSize = 0,
                        const std::vector<std::uint8_t>& bytes = {}) {
        SMCParamStruct output;
        std::size_t size = SMCParamStruct::size;
        EXPECT_EQ(firmware.exchange(SMCUserClient::smcSelector, record(command, key, dataSize, bytes), output,
                                    size, true),
                  IOKitReturn::success);
        return output;
    }
    std::uint8_t writeByte(std::string_view key, std::uint8_t value) {
        return call(SMCParamStruct::writeBytes, key, 1, {value}).result();
    }
    int readByte(std::string_view key) {
        const auto answer = call(SMCParamStruct::readBytes, key, 1);
        return answer.result() == SMCParamStruct::success ? answer.bytes()[0] : -1;
    }
};

SMCProfile smallTable() {
    SMCProfile profile;
    profile.fanTimings.requiresUnlock = false;
    profile.keys = {SimulatedKey::flt("TCMz", 50.0f), SimulatedKey::ui8("BRSC", 80, 0xC0),
                    SimulatedKey::ui16("BCyc", 312), SimulatedKey::raw("PRIV", "ui8 ", {7}, 0x02)};
    return profile;
}

struct ResultCase {
    const char* label;
    std::uint8_t command;
    const char* key;
    std::uint32_t dataSize;
    std::uint8_t expected;
};

class SimulatedAppleSMCResultTest : public ::testing::TestWithParam<ResultCase> {
protected:
    Firmware machine{smallTable()};
};

TEST_P(SimulatedAppleSMCResultTest, AnswersTheFirmwareResultByteWithoutEffect) {
    const auto& param = GetParam();
    const auto before = machine.firmware.valueBytes(SMCKey::fromString(param.key));
    EXPECT_EQ(machine.call(param.command, param.key, param.dataSize, {9, 9}).result(), param.expected);
    EXPECT_EQ(machine.firmware.valueBytes(SMCKey::fromString(param.key)), before);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, SimulatedAppleSMCResultTest,
    ::testing::Values(ResultCase{"infoMissing", SMCParamStruct::keyInfo, "ZZZZ", 0, 0x84},
                      ResultCase{"readPrivate", SMCParamStruct::readBytes, "PRIV", 1, 0x85},
                      ResultCase{"writeReadOnly", SMCParamStruct::writeBytes, "BCyc", 2, 0x86},
                      ResultCase{"writeWrongSize", SMCParamStruct::writeBytes, "BRSC", 2, 0x87},
                      ResultCase{"limitsCommand", 11, "BRSC", 1, 0x82}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SimulatedAppleSMCTest, TheKernelRefusesMalformedCallsAndUnprivilegedWrites) {
    Firmware machine(smallTable());
    auto user = machine.firmware.makeUserClient(false);
    const auto write = record(SMCParamStruct::writeBytes, "BRSC", 1, {5});
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
}

// Timings short and distinct enough that an off-by-one shows: unlock 100 ms, window 400 ms, mode
// latch 30 ms, release 350 ms.
TEST(SimulatedAppleSMCFanTest, SystemKeepsTheFansUntilTheUnlockHasSettled) {
    auto profile = SMCProfiles::mac15_11();
    profile.fanTimings = FanTimings{true, 100, 400, 30, 350, 1000.0};
    Firmware machine(profile);
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
    machine.clock.advance(29);
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
}

} // namespace
} // namespace quorvane
