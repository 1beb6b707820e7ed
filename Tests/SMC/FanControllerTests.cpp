#include "SMC/FanController.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MessageOf.hpp"
#include "Support/SimulatedMachine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::LogCapture;
using testing::SimulatedMachine;
using testing::tableProfile;
using testing::twoFanKeys;

const SMCKey mode0 = SMCKey::fromString("F0Md");
const SMCKey target0 = SMCKey::fromString("F0Tg");

class FanControllerTest : public ::testing::Test {
protected:
    explicit FanControllerTest(std::vector<SimulatedKey> keys = twoFanKeys())
        : machine(tableProfile(std::move(keys))) {}

    template <typename Operation> std::string failureOf(Operation&& operation) {
        return testing::messageOf<SMCError>(operation);
    }

    int writesSoFar() const {
        return static_cast<int>(
            std::count_if(machine.log->inputs.begin(), machine.log->inputs.end(),
                          [](const auto& input) { return input.command() == SMCParamStruct::writeBytes; }));
    }

    SimulatedMachine machine;
    FanController controller{machine.bridge, machine.clock};
};

TEST_F(FanControllerTest, IndicesOutsideTheKeyRangeFailBeforeAnyAccess) {
    for (int index : {10, -1}) {
        const std::string expected =
            "SMC read failed: fan index " + std::to_string(index) + " is outside the supported key range";
        EXPECT_EQ(failureOf([&] { controller.getFanInfo(index); }), expected);
        EXPECT_EQ(failureOf([&] { controller.setFanMode(index, FanMode::manual); }), expected);
        EXPECT_EQ(failureOf([&] { controller.resetToAuto(index); }), expected);
    }
    EXPECT_TRUE(machine.log->inputs.empty());
}

TEST_F(FanControllerTest, ReadsFanInfoAndToleratesAnUnreadableTarget) {
    machine.firmware.setFloat(SMCKey::fromString("F1Ac"), 2150.4F);
    EXPECT_EQ(controller.getFanInfo(1), (FanInfo{1, 2150, 1200, 6000, FanMode::automatic, 0}));
    machine.firmware.hideKey(SMCKey::fromString("F1Tg"));
    EXPECT_EQ(controller.getFanInfo(1).targetRPM, std::nullopt);
}

// Mac15,11 idles its fans at mode 3: one line when a fan's mode changes, not one per poll.
TEST_F(FanControllerTest, UnrecognisedModesReadAsAutomaticAndAreLoggedOncePerChange) {
    LogCapture logs;
    for (const std::uint8_t mode : {3, 3, 0, 3}) {
        machine.firmware.setValueBytes(mode0, {mode});
        EXPECT_EQ(controller.getFanInfo(0).mode, FanMode::automatic);
    }
    EXPECT_EQ(logs.messagesContaining("fan 0 reported unrecognized mode 3; treating as automatic").size(),
              2U);
}

TEST_F(FanControllerTest, SettingTheCurrentModeWritesNothing) {
    controller.setFanMode(0, FanMode::automatic);
    EXPECT_EQ(writesSoFar(), 0);
    controller.setFanMode(0, FanMode::manual);
    EXPECT_EQ(writesSoFar(), 1);
    EXPECT_EQ(controller.getFanInfo(0).mode, FanMode::manual);
}

TEST_F(FanControllerTest, TargetsNeedManualModeAndLieWithinTheLiveLimits) {
    EXPECT_EQ(failureOf([&] { controller.setFanRPM(0, 2000); }),
              "SMC write failed: fan 0 must be in manual mode before setting RPM");
    controller.setFanMode(0, FanMode::manual);
    const int writes = writesSoFar();
    EXPECT_EQ(failureOf([&] { controller.setFanRPM(0, 1199); }),
              "SMC write failed: fan 0 target 1199 is outside 1200...6000 RPM");
    EXPECT_EQ(failureOf([&] { controller.setFanRPM(0, 6001); }),
              "SMC write failed: fan 0 target 6001 is outside 1200...6000 RPM");
    EXPECT_EQ(writesSoFar(), writes);
    controller.setFanRPM(0, 1200);
    controller.setFanRPM(0, 6000);
    EXPECT_EQ(machine.firmware.floatValue(target0), 6000.0F);
    EXPECT_EQ(writesSoFar(), writes + 2);

    // The limits are read live: inverted ones refuse every target.
    machine.firmware.setFloat(SMCKey::fromString("F0Mx"), 1000);
    EXPECT_EQ(failureOf([&] { controller.setFanRPM(0, 1100); }),
              "SMC write failed: fan 0 reported invalid RPM bounds");
    EXPECT_EQ(writesSoFar(), writes + 2);
}

TEST_F(FanControllerTest, TargetLatchToleranceIsTwoRPM) {
    controller.setFanMode(0, FanMode::manual);
    machine.firmware.setTargetNeverLatches(0, true);
    machine.firmware.setFloat(target0, 3001.5F);
    controller.setFanRPM(0, 3000);
    EXPECT_EQ(machine.clock.nowMilliseconds(), 0);

    machine.firmware.setFloat(target0, 3002.5F);
    EXPECT_EQ(failureOf([&] { controller.setFanRPM(0, 3000); }),
              "SMC write failed: fan 0 target 3000 did not latch within 10.0s");
    EXPECT_EQ(machine.clock.nowMilliseconds(), 10000);
}

TEST_F(FanControllerTest, TransientRefusalsAreRetriedUntilTheDeadline) {
    machine.firmware.injectTransient(mode0, 0x82, -1, FaultScope::writes);
    EXPECT_EQ(failureOf([&] { controller.setFanMode(0, FanMode::manual); }),
              "SMC write failed: fan 0 mode 1 did not latch after transient SMC retries: "
              "write bytes failed for F0Md (SMC result 0x82)");
    EXPECT_EQ(machine.clock.nowMilliseconds(), 10000);
}

// A short burst of busy answers is ridden out; any other refusal ends the operation at once; a mode
// that never reads back times out.
TEST_F(FanControllerTest, ModeWritesRetryOnlyTransientRefusals) {
    machine.firmware.injectTransient(mode0, 0x83, 3, FaultScope::writes);
    EXPECT_EQ(failureOf([&] { controller.setFanMode(0, FanMode::manual); }), "no error");
    EXPECT_EQ(machine.clock.nowMilliseconds(), 300);

    machine.firmware.injectTransient(mode0, 0x86, 1, FaultScope::writes);
    EXPECT_EQ(failureOf([&] { controller.setFanMode(0, FanMode::automatic); }),
              "write bytes failed for F0Md (SMC result 0x86)");
    EXPECT_EQ(machine.clock.nowMilliseconds(), 300);

    machine.firmware.stickValue(mode0, 1);
    EXPECT_EQ(failureOf([&] { controller.setFanMode(0, FanMode::automatic); }),
              "SMC write failed: fan 0 mode 0 did not latch within 10.0s");
}

// A fan the system already manages is left alone; one the probe never saw still gets its reset
// tried, and the missing key is the error.
TEST_F(FanControllerTest, ResetLeavesSystemManagedFansAloneButTriesUnprobedOnes) {
    machine.firmware.setValueBytes(mode0, {3});
    controller.resetToAuto(0);
    EXPECT_EQ(writesSoFar(), 0);
    machine.firmware.setValueBytes(mode0, {1});
    controller.resetToAuto(0);
    EXPECT_EQ(machine.firmware.valueBytes(mode0), std::vector<std::uint8_t>{0});
    EXPECT_EQ(failureOf([&] { controller.resetToAuto(5); }), "SMC key F5Md was not found");
}

class FanControllerLookupTest : public FanControllerTest {
protected:
    // Fan 0 alone, its target read-only.
    static std::vector<SimulatedKey> oneFan() {
        auto keys = twoFanKeys();
        keys.resize(6);
        keys[4] = SimulatedKey::flt("F0Tg", 0, 0x84);
        return keys;
    }
    FanControllerLookupTest() : FanControllerTest(oneFan()) {}
};

TEST_F(FanControllerLookupTest, UnprobedUncontrollableAndUnboundedFansAreRefused) {
    EXPECT_EQ(failureOf([&] { controller.getFanInfo(1); }), "SMC key fan 1 was not found");
    EXPECT_EQ(failureOf([&] { controller.setFanMode(0, FanMode::manual); }),
              "SMC write failed: fan 0 does not support manual control on this machine");
    EXPECT_EQ(controller.getFanInfo(0).index, 0);
    machine.firmware.setFloat(SMCKey::fromString("F0Mn"), 0);
    EXPECT_EQ(failureOf([&] { controller.getFanInfo(0); }),
              "SMC read failed: fan 0 reported invalid RPM bounds");
}

} // namespace
} // namespace quorvane
