#include "FirmwareHarness.hpp"

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

std::string keyText(std::uint32_t raw) {
    return {static_cast<char>(raw >> 24), static_cast<char>(raw >> 16), static_cast<char>(raw >> 8),
            static_cast<char>(raw)};
}

class SimulatedAppleSMCTest : public ::testing::Test {
protected:
    std::string keyAt(std::uint32_t index) {
        return keyText(machine.call(SMCParamStruct::keyByIndex, "", 0, {}, index).key());
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

    machine.firmware.addKey(SimulatedKey::flt("B0AC", 2.0f));
    machine.firmware.addKey(SimulatedKey::flt("TCMz", 51.0f)); // replaces
    EXPECT_EQ(machine.read("#KEY"), (std::vector<std::uint8_t>{0, 0, 0, 7}));
    EXPECT_EQ(keyAt(2), "B0AC");
    EXPECT_EQ(machine.readFloat("TCMz"), 51.0f);
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

struct TransientCase {
    const char* label;
    FaultScope scope;
    std::vector<std::uint8_t> results; // of read, write, read, write, read, write
    std::vector<std::uint8_t> values;  // stored after each write
};

class SimulatedAppleSMCTransientTest : public SimulatedAppleSMCTest,
                                       public ::testing::WithParamInterface<TransientCase> {};

TEST_P(SimulatedAppleSMCTransientTest, CountsOnlyTheExchangesInScope) {
    machine.firmware.injectTransient(SMCKey::fromString("BRSC"), 0x83, 2, GetParam().scope);
    std::vector<std::uint8_t> results;
    std::vector<std::uint8_t> values;
    for (std::uint8_t value = 1; value <= 3; ++value) {
        results.push_back(machine.call(SMCParamStruct::readBytes, "BRSC", 1).result());
        results.push_back(machine.writeByte("BRSC", value));
        values.push_back(machine.firmware.valueBytes(SMCKey::fromString("BRSC"))->at(0));
    }
    EXPECT_EQ(results, GetParam().results);
    EXPECT_EQ(values, GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(
    Scopes, SimulatedAppleSMCTransientTest,
    ::testing::Values(TransientCase{"reads", FaultScope::reads, {0x83, 0, 0x83, 0, 0, 0}, {1, 2, 3}},
                      TransientCase{"writes", FaultScope::writes, {0, 0x83, 0, 0x83, 0, 0}, {80, 80, 3}},
                      TransientCase{"any", FaultScope::any, {0x83, 0x83, 0, 0, 0, 0}, {80, 2, 3}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SimulatedAppleSMCTest, FaultsLastUntilCleared) {
    machine.firmware.injectTransient(SMCKey::fromString("TCMz"), 0x82, -1, FaultScope::reads);
    machine.firmware.hideKey(SMCKey::fromString("BRSC"));
    EXPECT_EQ(machine.call(SMCParamStruct::readBytes, "TCMz", 4).result(), 0x82);
    EXPECT_EQ(machine.call(SMCParamStruct::readBytes, "TCMz", 4).result(), 0x82);
    // A hidden key answers nothing but keeps its place, so the count stays honest.
    EXPECT_EQ(machine.call(SMCParamStruct::keyInfo, "BRSC").result(), 0x84);
    EXPECT_EQ(machine.call(SMCParamStruct::readBytes, "BRSC", 1).result(), 0x84);
    EXPECT_EQ(machine.writeByte("BRSC", 1), 0x84);
    EXPECT_EQ(keyAt(3), "BRSC");
    EXPECT_EQ(machine.read("#KEY"), (std::vector<std::uint8_t>{0, 0, 0, 6}));

    machine.firmware.clearFaults();
    EXPECT_EQ(machine.readFloat("TCMz"), 50.0f);
    EXPECT_EQ(machine.readByte("BRSC"), 80);
}

TEST_F(SimulatedAppleSMCTest, StuckKeysReadTheirByteAndIgnoreWrites) {
    machine.firmware.stickValue(SMCKey::fromString("TCMz"), 0xAB);
    machine.firmware.stickValue(SMCKey::fromString("BRSC"), 3);
    EXPECT_EQ(machine.read("TCMz"), (std::vector<std::uint8_t>{0xAB, 0xAB, 0xAB, 0xAB}));
    EXPECT_EQ(machine.writeByte("BRSC", 1), 0);
    EXPECT_EQ(machine.readByte("BRSC"), 3);
    // The real state is untouched underneath.
    EXPECT_EQ(machine.firmware.valueBytes(SMCKey::fromString("BRSC")), std::vector<std::uint8_t>{80});
    EXPECT_EQ(machine.firmware.floatValue(SMCKey::fromString("TCMz")), 50.0f);
}

TEST_F(SimulatedAppleSMCTest, EmptyValuesAreServedAsNoBytesEvenOnFanKeys) {
    machine.firmware.addKey(SimulatedKey::raw("XZRO", "ch8*", {}));
    machine.firmware.addKey(SimulatedKey::raw("F0Md", "ui8 ", {}, 0xD0));
    EXPECT_EQ(machine.call(SMCParamStruct::keyInfo, "XZRO").dataSize(), 0u);
    EXPECT_EQ(machine.call(SMCParamStruct::readBytes, "XZRO", 0).result(), 0);
    EXPECT_EQ(machine.call(SMCParamStruct::writeBytes, "F0Md", 0).result(), 0);
    machine.clock.advance(1000);
    EXPECT_EQ(machine.firmware.valueBytes(SMCKey::fromString("F0Md")), std::vector<std::uint8_t>{});
}

TEST_F(SimulatedAppleSMCTest, StateSettersRefuseWhatTheTableCannotHold) {
    EXPECT_THROW(machine.firmware.setFloat(SMCKey::fromString("ZZZZ"), 1), std::out_of_range);
    EXPECT_THROW(machine.firmware.setFloat(SMCKey::fromString("BRSC"), 1), std::invalid_argument);
    EXPECT_THROW(machine.firmware.setValueBytes(SMCKey::fromString("BRSC"), {1, 2}), std::invalid_argument);
    EXPECT_THROW(machine.firmware.addKey(
                     SimulatedKey{SMCKey::fromString("HUGE"), 0, 0x80, std::vector<std::uint8_t>(33)}),
                 std::invalid_argument);
}

} // namespace
} // namespace quorvane
