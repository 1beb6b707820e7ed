#include "SMC/IOKitSMCBridge.hpp"
#include "Support/MessageOf.hpp"
#include "Support/SimulatedMachine.hpp"

#include <cmath>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::SimulatedMachine;
using testing::tableProfile;

SMCKeyInfo metadata(const char* name, const char* type, std::uint32_t size, std::uint8_t attributes = 0xD0) {
    return SMCKeyInfo{SMCKey::fromString(name), size, SimulatedKey::typeCode(type), attributes, name};
}

std::string policyFailure(const SMCKeyInfo& keyInfo, const SMCValue& value,
                          SMCWriteCapability capability = SMCWriteCapability::privilegedHelper) {
    const auto message = testing::messageOf<SMCError>([&] {
        IOKitSMCBridge::validateFanWrite(keyInfo.keyName, value, keyInfo, capability);
        IOKitSMCBridge::encodedBytes(value, keyInfo);
    });
    return message == "no error" ? "allowed" : message;
}

struct PolicyCase {
    SMCKeyInfo keyInfo;
    SMCValue value;
    SMCWriteCapability capability;
    std::string expected;
};

class WritePolicyTest : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(WritePolicyTest, AllowsOnlyFanModeTargetAndUnlockKeys) {
    const auto& param = GetParam();
    EXPECT_EQ(policyFailure(param.keyInfo, param.value, param.capability), param.expected);
}

const auto helper = SMCWriteCapability::privilegedHelper;
const auto hardwareTest = SMCWriteCapability::phase2HardwareTest;

INSTANTIATE_TEST_SUITE_P(
    Keys, WritePolicyTest,
    ::testing::Values(PolicyCase{metadata("F0Md", "ui8 ", 1), SMCValue::uint8(1), helper, "allowed"},
                      PolicyCase{metadata("F9Md", "ui8 ", 1), SMCValue::uint8(0), hardwareTest, "allowed"},
                      PolicyCase{metadata("F0Md", "ui8 ", 1), SMCValue::uint8(2), helper,
                                 "SMC write failed: F0Md requires ui8 mode 0 or 1"},
                      PolicyCase{metadata("F0Md", "ui16", 2), SMCValue::uint32(1), helper,
                                 "SMC write failed: F0Md requires ui8 mode 0 or 1"},
                      PolicyCase{metadata("F0Md", "ui8 ", 1, 0x80), SMCValue::uint8(1), helper,
                                 "SMC write failed: F0Md metadata does not grant write access"},
                      PolicyCase{metadata("F0Tg", "flt ", 4), SMCValue::float32(2400), helper, "allowed"},
                      PolicyCase{metadata("F0Tg", "flt ", 4), SMCValue::uint32(2400), helper,
                                 "SMC write failed: F0Tg requires a finite native-endian flt value"},
                      PolicyCase{metadata("F0Tg", "flt ", 4), SMCValue::float32(NAN), helper,
                                 "SMC write failed: F0Tg requires a finite native-endian flt value"},
                      PolicyCase{metadata("F0Tg", "fpe2", 2), SMCValue::float32(2400), helper,
                                 "SMC write failed: F0Tg requires a finite native-endian flt value"},
                      PolicyCase{metadata("F0Mn", "flt ", 4), SMCValue::float32(1), helper,
                                 "SMC write failed: F0Mn is outside the fan-write allowlist"},
                      PolicyCase{metadata("FAMd", "ui8 ", 1), SMCValue::uint8(1), helper,
                                 "SMC write failed: FAMd is outside the fan-write allowlist"},
                      PolicyCase{metadata("TCMz", "flt ", 4), SMCValue::float32(1), helper,
                                 "SMC write failed: TCMz is outside the fan-write allowlist"},
                      PolicyCase{metadata("Ftst", "ui8 ", 1), SMCValue::uint8(1), helper, "allowed"},
                      PolicyCase{metadata("Ftst", "ui8 ", 1), SMCValue::uint8(0),
                                 SMCWriteCapability::ftstUnlockProbe, "allowed"},
                      PolicyCase{metadata("Ftst", "ui8 ", 1), SMCValue::uint8(1), hardwareTest,
                                 "SMC write failed: Ftst requires an explicit unlock-capable bridge"},
                      PolicyCase{metadata("Ftst", "ui8 ", 1), SMCValue::uint8(2), helper,
                                 "SMC write failed: Ftst requires ui8 flag 0 or 1"},
                      PolicyCase{metadata("Ftst", "flt ", 4), SMCValue::float32(1), helper,
                                 "SMC write failed: Ftst requires ui8 flag 0 or 1"}));

struct EncodeCase {
    SMCKeyInfo keyInfo;
    SMCValue value;
    std::string expected; // hex of the bytes, or the message
};

class EncoderTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncoderTest, EncodesByTypeThenSize) {
    const auto& param = GetParam();
    std::string result;
    const auto message = testing::messageOf<SMCError>(
        [&] { result = IOKitSMCBridge::hex(IOKitSMCBridge::encodedBytes(param.value, param.keyInfo)); });
    EXPECT_EQ(message == "no error" ? result : message, param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, EncoderTest,
    ::testing::Values(EncodeCase{metadata("F0Tg", "flt ", 4), SMCValue::float32(1.0F), "00 00 80 3F"},
                      EncodeCase{metadata("F0Tg", "flt ", 2), SMCValue::float32(NAN),
                                 "SMC write failed: F0Tg has unexpected size 2 for flt "},
                      EncodeCase{metadata("F0Tg", "flt ", 4), SMCValue::float32(INFINITY),
                                 "SMC write failed: F0Tg cannot be written with a non-finite float"},
                      EncodeCase{metadata("XU16", "ui16", 2), SMCValue::uint32(1200), "04 B0"},
                      EncodeCase{metadata("XU16", "ui16", 2), SMCValue::uint32(65536),
                                 "SMC write failed: XU16 value does not fit ui16"},
                      EncodeCase{metadata("XU16", "ui16", 4), SMCValue::uint32(1),
                                 "SMC write failed: XU16 value does not fit ui16"},
                      EncodeCase{metadata("XU32", "ui32", 4), SMCValue::uint32(0x01020304), "01 02 03 04"},
                      EncodeCase{metadata("XU8 ", "ui8 ", 2), SMCValue::uint8(1),
                                 "SMC write failed: XU8  has unexpected size 2 for ui8 "},
                      EncodeCase{metadata("XU8 ", "ui8 ", 1), SMCValue::uint32(1),
                                 "SMC write failed: XU8  expects ui8 ; incompatible typed value"},
                      EncodeCase{metadata("XRAW", "ch8*", 1), SMCValue::bytes({1}),
                                 "SMC write failed: XRAW expects ch8*; incompatible typed value"}));

// ---- the write path against the firmware ---------------------------------------------------

class BridgeWriteTest : public ::testing::Test {
protected:
    static SMCProfile profile() {
        return tableProfile({SimulatedKey::ui8("F0Md", 0, 0xD0), SimulatedKey::flt("F0Tg", 0, 0xD4),
                             SimulatedKey::flt("F0Mn", 1200, 0xC4), SimulatedKey::ui8("Ftst", 0, 0xD0),
                             SimulatedKey::ui8("F0Ac", 0, 0xC0)});
    }
    std::vector<SMCWriteAuditEvent> events;
    SimulatedMachine machine{profile(), SMCWriteCapability::privilegedHelper,
                             [this](const SMCWriteAuditEvent& event) {
                                 events.push_back(event);
                             }};

    std::string writeFailure(const char* key, const SMCValue& value, bool verified = true) {
        const auto message = testing::messageOf<SMCError>([&] {
            if (verified) {
                machine.bridge->writeKey(SMCKey::fromString(key), value);
            } else {
                machine.bridge->writeKeyUnverified(SMCKey::fromString(key), value);
            }
        });
        return message == "no error" ? "written" : message;
    }
};

TEST_F(BridgeWriteTest, VerifiedAndUnverifiedWritesAreAuditedWithTheirDetail) {
    EXPECT_EQ(writeFailure("Ftst", SMCValue::uint8(1)), "written");
    EXPECT_EQ(writeFailure("F0Tg", SMCValue::float32(2400.0F), false), "written");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (SMCWriteAuditEvent{"Ftst", "1", true, "verified readback"}));
    EXPECT_EQ(events[1],
              (SMCWriteAuditEvent{"F0Tg", "2400.0", true, "write sent; async application expected"}));
    // Key info, write, read-back; then key info, write.
    EXPECT_EQ(machine.log->inputs.size(), 5u);
}

TEST_F(BridgeWriteTest, RefusedWritesNeverReachTheFirmwareButAreAudited) {
    EXPECT_EQ(writeFailure("F0Mn", SMCValue::float32(1)),
              "SMC write failed: F0Mn is outside the fan-write allowlist");
    EXPECT_EQ(writeFailure("F0Ac", SMCValue::uint8(1)),
              "SMC write failed: F0Ac is outside the fan-write allowlist");
    EXPECT_EQ(writeFailure("F0Md", SMCValue::uint8(2)), "SMC write failed: F0Md requires ui8 mode 0 or 1");
    for (const auto& input : machine.log->inputs) {
        EXPECT_EQ(input.command(), SMCParamStruct::keyInfo);
    }
    ASSERT_EQ(events.size(), 3u);
    EXPECT_FALSE(events[0].succeeded);
    EXPECT_EQ(events[0].detail, "SMC write failed: F0Mn is outside the fan-write allowlist");
    EXPECT_EQ(events[0].value, "1.0");
}

TEST_F(BridgeWriteTest, MissingKeyFirmwareRefusalAndReadbackMismatchAreAuditedFailures) {
    EXPECT_EQ(writeFailure("F3Md", SMCValue::uint8(1)), "SMC key F3Md was not found");
    machine.firmware.injectTransient(SMCKey::fromString("F0Md"), 0x83, 1, FaultScope::writes);
    EXPECT_EQ(writeFailure("F0Md", SMCValue::uint8(1), false),
              "write bytes failed for F0Md (SMC result 0x83)");
    machine.firmware.stickValue(SMCKey::fanTestMode, 0);
    EXPECT_EQ(writeFailure("Ftst", SMCValue::uint8(1)),
              "SMC write failed: Ftst readback mismatch: wrote 01, read 00");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].detail, "SMC key F3Md was not found");
    EXPECT_EQ(events[1].detail, "write bytes failed for F0Md (SMC result 0x83)");
    EXPECT_EQ(events[2].detail, "SMC write failed: Ftst readback mismatch: wrote 01, read 00");
    for (const auto& event : events) {
        EXPECT_FALSE(event.succeeded) << event.detail;
    }
}

TEST(BridgeCapabilityTest, DisabledBridgeRefusesEverythingSilently) {
    int audited = 0;
    SimulatedMachine machine(tableProfile({SimulatedKey::ui8("F0Md", 0, 0xD0)}), SMCWriteCapability::disabled,
                             [&](const SMCWriteAuditEvent&) { ++audited; });
    EXPECT_EQ(testing::messageOf<SMCError>(
                  [&] { machine.bridge->writeKey(SMCKey::fromString("F0Md"), SMCValue::uint8(1)); }),
              "SMC write failed: capability gate is disabled");
    EXPECT_EQ(audited, 0);
    EXPECT_TRUE(machine.log->inputs.empty());
}

} // namespace
} // namespace quorvane
