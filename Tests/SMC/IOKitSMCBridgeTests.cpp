#include "SMC/IOKitReturn.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Support/MessageOf.hpp"
#include "Support/SimulatedMachine.hpp"

#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::ExchangeLog;
using testing::RecordingUserClient;
using testing::SimulatedMachine;
using testing::tableProfile;

template <typename Operation> std::string failureOf(Operation&& operation) {
    return testing::messageOf<SMCError>(operation);
}

TEST(IOKitSMCBridgeConnectionTest, MissingServiceAndRefusedOpenLeaveTheBridgeClosed) {
    auto log = std::make_shared<ExchangeLog>();
    log->serviceExists = false;
    IOKitSMCBridge missing(std::make_unique<RecordingUserClient>(nullptr, log));
    EXPECT_EQ(failureOf([&] { missing.open(); }), "AppleSMC service was not found");
    EXPECT_FALSE(missing.isOpen());

    log->serviceExists = true;
    log->openCode = IOKitReturn::notPrivileged;
    IOKitSMCBridge refused(std::make_unique<RecordingUserClient>(nullptr, log));
    EXPECT_EQ(failureOf([&] { refused.open(); }), "Failed to open AppleSMC (IOKit 0xe00002c1)");
    EXPECT_FALSE(refused.isOpen());
    EXPECT_EQ(failureOf([&] { refused.getKeyCount(); }), "The AppleSMC connection is not open");
}

TEST(IOKitSMCBridgeConnectionTest, ATransportAnswerOfTheWrongSizeIsAnError) {
    SimulatedMachine machine(tableProfile({SimulatedKey::ui8("FNum", 2)}));
    machine.log->forcedOutputSize = 48;
    EXPECT_EQ(failureOf([&] { machine.bridge->getKeyInfo(SMCKey::fromString("FNum")); }),
              "SMC read failed: read key info returned 48 bytes; expected 80");
}

TEST(IOKitSMCBridgeRecordTest, CommandsFillTheDocumentedOffsets) {
    SimulatedMachine machine(
        tableProfile({SimulatedKey::flt("F0Tg", 0, 0xD4), SimulatedKey::ui8("F0Md", 0, 0xD0)}));
    machine.bridge->writeKeyUnverified(SMCKey::fromString("F0Tg"), SMCValue::float32(1500.0F));
    machine.bridge->getKeyFromIndex(1);

    ASSERT_EQ(machine.log->inputs.size(), 3u);
    const auto& info = machine.log->inputs[0].raw;
    EXPECT_EQ(info[0], 'g'); // the key, little-endian: "F0Tg" packed is 0x46305467
    EXPECT_EQ(info[42], 9);

    const auto& write = machine.log->inputs[1].raw;
    EXPECT_EQ(write[42], 6);
    EXPECT_EQ(write[28], 4); // data size
    const std::vector<std::uint8_t> value(write.begin() + 48, write.begin() + 52);
    EXPECT_EQ(value, SimulatedKey::floatBytes(1500.0F));
    EXPECT_TRUE(std::all_of(write.begin() + 52, write.end(), [](auto byte) { return byte == 0; }));

    const auto& byIndex = machine.log->inputs[2].raw;
    EXPECT_EQ(byIndex[42], 8);
    EXPECT_EQ(byIndex[44], 1);
    EXPECT_TRUE(std::all_of(byIndex.begin(), byIndex.begin() + 42, [](auto byte) { return byte == 0; }));
}

struct DecodeCase {
    const char* type;
    std::vector<std::uint8_t> bytes;
    SMCValue expected;
};

class IOKitSMCBridgeDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(IOKitSMCBridgeDecodeTest, DecodesByTrimmedType) {
    const auto& param = GetParam();
    SimulatedMachine machine(tableProfile({SimulatedKey::raw("XKEY", param.type, param.bytes)}));
    EXPECT_EQ(machine.bridge->readKey(SMCKey::fromString("XKEY")), param.expected) << param.type;
}

INSTANTIATE_TEST_SUITE_P(Types, IOKitSMCBridgeDecodeTest,
                         ::testing::Values(DecodeCase{"ui16", {0x04, 0xB0}, SMCValue::uint32(1200)},
                                           DecodeCase{"fpe2", {0x04, 0xB0}, SMCValue::float32(300)},
                                           DecodeCase{"sp78", {0xFF, 0x80}, SMCValue::float32(-0.5F)},
                                           DecodeCase{"flt ", SimulatedKey::floatBytes(42.25F),
                                                      SMCValue::float32(42.25F)},
                                           DecodeCase{"ui8 ", {0xFE}, SMCValue::uint8(0xFE)},
                                           DecodeCase{"flag", {0x01}, SMCValue::bytes({0x01})}));

TEST(IOKitSMCBridgeDecodeFailureTest, ShortValuesNameKeySizeAndUntrimmedType) {
    SimulatedMachine machine(
        tableProfile({SimulatedKey::raw("TSHT", "flt ", {1, 2}), SimulatedKey::raw("TBIG", "sp78", {1})}));
    EXPECT_EQ(failureOf([&] { machine.bridge->readKey(SMCKey::fromString("TSHT")); }),
              "SMC read failed: TSHT returned fewer than 2 bytes for flt ");
    EXPECT_EQ(failureOf([&] { machine.bridge->readTemperature(SMCKey::fromString("TBIG")); }),
              "SMC read failed: TBIG returned fewer than 1 bytes for sp78");
}

TEST(IOKitSMCBridgeDecodeFailureTest, TemperaturesAcceptFltAndSp78Only) {
    SimulatedMachine machine(
        tableProfile({SimulatedKey::flt("TCMz", 72.8F), SimulatedKey::raw("TB0T", "sp78", {0xFF, 0x80}),
                      SimulatedKey::raw("F0Ac", "fpe2", {0x04, 0xB0}), SimulatedKey::flt("TNAN", NAN),
                      SimulatedKey::flt("TINF", INFINITY)}));
    EXPECT_NEAR(machine.bridge->readTemperature(SMCKey::fromString("TCMz")), 72.8, 1e-5);
    EXPECT_DOUBLE_EQ(machine.bridge->readTemperature(SMCKey::fromString("TB0T")), -0.5);
    EXPECT_EQ(failureOf([&] { machine.bridge->readTemperature(SMCKey::fromString("F0Ac")); }),
              "Unsupported SMC data type: fpe2 for F0Ac");
    for (const std::string key : {"TNAN", "TINF"}) {
        EXPECT_EQ(failureOf([&] { machine.bridge->readTemperature(SMCKey::fromString(key)); }),
                  "SMC read failed: " + key + " returned a non-finite temperature");
    }
}

TEST(IOKitSMCBridgeDecodeFailureTest, FanSpeedsMustBeFiniteAndNotNegative) {
    SimulatedMachine machine(tableProfile(
        {SimulatedKey::flt("F0Ac", -1), SimulatedKey::flt("F1Ac", NAN), SimulatedKey::flt("F2Ac", 0),
         SimulatedKey::flt("F3Ac", 1200.5F), SimulatedKey::raw("F4Ac", "fpe2", {0x04, 0xB0}),
         SimulatedKey::ui16("F5Ac", 1200), SimulatedKey::flt("F6Ac", 1e30F)}));
    const auto rpm = [&](const char* key) {
        return machine.bridge->readFanRPM(SMCKey::fromString(key));
    };
    for (const std::string key : {"F0Ac", "F1Ac", "F6Ac"}) { // negative, NaN, beyond any fan
        EXPECT_EQ(failureOf([&] { rpm(key.c_str()); }),
                  "SMC read failed: " + key + " returned an invalid RPM");
    }
    EXPECT_EQ(rpm("F2Ac"), 0);
    EXPECT_EQ(rpm("F3Ac"), 1201);
    EXPECT_EQ(rpm("F4Ac"), 300);
    EXPECT_EQ(failureOf([&] { rpm("F5Ac"); }), "Unsupported SMC data type: ui16 for F5Ac");
}

SMCKeyInfo metadata(const char* name, const char* type, std::uint32_t size, std::uint8_t attributes = 0xD0) {
    return SMCKeyInfo{SMCKey::fromString(name), size, SimulatedKey::typeCode(type), attributes, name};
}

std::string policyFailure(const SMCKeyInfo& keyInfo, const SMCValue& value,
                          SMCWriteCapability capability = SMCWriteCapability::privilegedHelper) {
    const auto message = failureOf([&] {
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
                      PolicyCase{metadata("F0Md", "ui8 ", 1, 0x80), SMCValue::uint8(1), helper,
                                 "SMC write failed: F0Md metadata does not grant write access"},
                      PolicyCase{metadata("F0Tg", "flt ", 4), SMCValue::float32(2400), helper, "allowed"},
                      PolicyCase{metadata("F0Tg", "flt ", 4), SMCValue::float32(NAN), helper,
                                 "SMC write failed: F0Tg requires a finite native-endian flt value"},
                      PolicyCase{metadata("F0Mn", "flt ", 4), SMCValue::float32(1), helper,
                                 "SMC write failed: F0Mn is outside the fan-write allowlist"},
                      PolicyCase{metadata("FAMd", "ui8 ", 1), SMCValue::uint8(1), helper,
                                 "SMC write failed: FAMd is outside the fan-write allowlist"},
                      PolicyCase{metadata("Ftst", "ui8 ", 1), SMCValue::uint8(1), helper, "allowed"},
                      PolicyCase{metadata("Ftst", "ui8 ", 1), SMCValue::uint8(0),
                                 SMCWriteCapability::ftstUnlockProbe, "allowed"},
                      PolicyCase{metadata("Ftst", "ui8 ", 1), SMCValue::uint8(1), hardwareTest,
                                 "SMC write failed: Ftst requires an explicit unlock-capable bridge"},
                      PolicyCase{metadata("Ftst", "ui8 ", 1), SMCValue::uint8(2), helper,
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
    const auto message = failureOf(
        [&] { result = IOKitSMCBridge::hex(IOKitSMCBridge::encodedBytes(param.value, param.keyInfo)); });
    EXPECT_EQ(message == "no error" ? result : message, param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, EncoderTest,
    ::testing::Values(EncodeCase{metadata("F0Tg", "flt ", 4), SMCValue::float32(1.0F), "00 00 80 3F"},
                      EncodeCase{metadata("F0Tg", "flt ", 4), SMCValue::float32(INFINITY),
                                 "SMC write failed: F0Tg cannot be written with a non-finite float"},
                      EncodeCase{metadata("XU16", "ui16", 2), SMCValue::uint32(1200), "04 B0"},
                      EncodeCase{metadata("XU16", "ui16", 2), SMCValue::uint32(65536),
                                 "SMC write failed: XU16 value does not fit ui16"},
                      EncodeCase{metadata("XU8 ", "ui8 ", 2), SMCValue::uint8(1),
                                 "SMC write failed: XU8  has unexpected size 2 for ui8 "},
                      EncodeCase{metadata("XRAW", "ch8*", 1), SMCValue::bytes({1}),
                                 "SMC write failed: XRAW expects ch8*; incompatible typed value"}));

class BridgeWriteTest : public ::testing::Test {
protected:
    static SMCProfile profile() {
        return tableProfile({SimulatedKey::ui8("F0Md", 0, 0xD0), SimulatedKey::flt("F0Tg", 0, 0xD4),
                             SimulatedKey::flt("F0Mn", 1200, 0xC4), SimulatedKey::ui8("Ftst", 0, 0xD0)});
    }
    std::vector<SMCWriteAuditEvent> events;
    SimulatedMachine machine{profile(), SMCWriteCapability::privilegedHelper,
                             [this](const SMCWriteAuditEvent& event) {
                                 events.push_back(event);
                             }};

    std::string writeFailure(const char* key, const SMCValue& value, bool verified = true) {
        const auto message = failureOf([&] {
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
    EXPECT_EQ(writeFailure("F0Md", SMCValue::uint8(2)), "SMC write failed: F0Md requires ui8 mode 0 or 1");
    for (const auto& input : machine.log->inputs) {
        EXPECT_EQ(input.command(), SMCParamStruct::keyInfo);
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(events[0].succeeded);
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
    for (const auto& event : events) {
        EXPECT_FALSE(event.succeeded) << event.detail;
    }
}

TEST(BridgeCapabilityTest, DisabledBridgeRefusesEverythingSilently) {
    int audited = 0;
    SimulatedMachine machine(tableProfile({SimulatedKey::ui8("F0Md", 0, 0xD0)}), SMCWriteCapability::disabled,
                             [&](const SMCWriteAuditEvent&) { ++audited; });
    EXPECT_EQ(failureOf([&] { machine.bridge->writeKey(SMCKey::fromString("F0Md"), SMCValue::uint8(1)); }),
              "SMC write failed: capability gate is disabled");
    EXPECT_EQ(audited, 0);
    EXPECT_TRUE(machine.log->inputs.empty());
}

} // namespace
} // namespace quorvane
