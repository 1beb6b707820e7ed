#include "FirmwareHarness.hpp"
#include "Simulator/SMCProfiles.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::FirmwareHarness;

// The M3 machine with timings short and distinct enough that an off-by-one shows.
SMCProfile lockedMachine() {
    auto profile = SMCProfiles::mac15_11();
    profile.fanTimings = FanTimings{true, 100, 400, 30, 350, 1000.0};
    return profile;
}

SMCProfile immediateMachine() {
    auto profile = SMCProfiles::mac14_6();
    profile.fanTimings.slewRPMPerSecond = 1000.0;
    return profile;
}

TEST(SimulatedAppleSMCFanTest, SystemKeepsTheFansUntilTheUnlockHasSettled) {
    FirmwareHarness machine(lockedMachine());
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

    EXPECT_EQ(machine.writeByte("F1Md", 0), 0);
    machine.clock.advance(30);
    EXPECT_EQ(machine.readByte("F1Md"), 0);

    // Handing back: the flag clears at once, the fans follow after the release delay.
    EXPECT_EQ(machine.writeByte("Ftst", 0), 0);
    EXPECT_EQ(machine.readByte("Ftst"), 0);
    machine.clock.advance(349);
    EXPECT_EQ(machine.readByte("F0Md"), 1);
    machine.clock.advance(1);
    EXPECT_EQ(machine.readByte("F0Md"), 3);
    EXPECT_EQ(machine.readByte("F1Md"), 3);
    // Locked again: a fresh mode write does not latch.
    EXPECT_EQ(machine.writeByte("F0Md", 1), 0);
    machine.clock.advance(1000);
    EXPECT_EQ(machine.readByte("F0Md"), 3);
}

TEST(SimulatedAppleSMCFanTest, ManualTargetsReadBackAtOnceAndTheFanSlewsTowardThem) {
    FirmwareHarness machine(immediateMachine());
    // No unlock on this machine: the mode idles automatic and latches at once.
    EXPECT_EQ(machine.readByte("F0Md"), 0);
    EXPECT_EQ(machine.writeByte("F0Md", 1), 0);
    EXPECT_EQ(machine.readByte("F0Md"), 1);
    EXPECT_EQ(machine.writeFloat("F0Tg", 3000), 0);
    EXPECT_EQ(machine.readFloat("F0Tg"), 3000.0f);
    EXPECT_EQ(machine.readFloat("F0Ac"), 0.0f);

    machine.clock.advance(1000);
    EXPECT_EQ(machine.readFloat("F0Ac"), 1000.0f);
    // Many small steps add up like one big one.
    for (int i = 0; i < 1000; ++i) {
        machine.clock.advance(1);
        machine.firmware.advanceToNow();
    }
    EXPECT_NEAR(machine.readFloat("F0Ac"), 2000.0f, 0.01);
    machine.clock.advance(5000);
    EXPECT_EQ(machine.readFloat("F0Ac"), 3000.0f);
    // No sanity check: the firmware slews to whatever it was given.
    EXPECT_EQ(machine.writeFloat("F0Tg", 0), 0);
    machine.clock.advance(2500);
    EXPECT_EQ(machine.readFloat("F0Ac"), 500.0f);

    // A target that never latches keeps its value; the other fan's still takes.
    machine.writeByte("F1Md", 1);
    machine.writeFloat("F0Tg", 2500);
    machine.firmware.setTargetNeverLatches(0, true);
    EXPECT_EQ(machine.writeFloat("F0Tg", 4000), 0);
    EXPECT_EQ(machine.writeFloat("F1Tg", 4000), 0);
    EXPECT_EQ(machine.readFloat("F0Tg"), 2500.0f);
    EXPECT_EQ(machine.readFloat("F1Tg"), 4000.0f);
}

TEST(SimulatedAppleSMCFanTest, TheSystemCurveDrivesEveryFanItOwns) {
    FirmwareHarness machine(lockedMachine());
    machine.firmware.setAutomaticTarget(0, 1500);
    EXPECT_EQ(machine.readFloat("F0Tg"), 1500.0f);
    EXPECT_EQ(machine.writeFloat("F0Tg", 5000), 0);
    EXPECT_EQ(machine.readFloat("F0Tg"), 1500.0f);

    machine.writeByte("Ftst", 1);
    machine.clock.advance(500);
    machine.writeByte("F0Md", 1);
    machine.clock.advance(30);
    ASSERT_EQ(machine.readByte("F0Md"), 1);
    machine.writeFloat("F0Tg", 4000);
    machine.clock.advance(4000);
    ASSERT_EQ(machine.readFloat("F0Ac"), 4000.0f);

    // 350 ms more at 4000, then 650 ms down toward 1500.
    machine.writeByte("Ftst", 0);
    machine.clock.advance(1000);
    EXPECT_EQ(machine.readFloat("F0Tg"), 1500.0f);
    EXPECT_NEAR(machine.readFloat("F0Ac"), 3350.0f, 0.01);
    // Fans may stand still at idle.
    machine.firmware.setAutomaticTarget(0, 0);
    machine.clock.advance(4000);
    EXPECT_EQ(machine.readFloat("F0Ac"), 0.0f);
}

TEST(SimulatedAppleSMCFanTest, AnAutomaticFanTakesAClientTargetUntilTheSystemDecidesAgain) {
    FirmwareHarness machine(lockedMachine());
    // Held by the system (mode 3): a client target is dropped.
    EXPECT_EQ(machine.writeFloat("F0Tg", 1200), 0);
    EXPECT_EQ(machine.readFloat("F0Tg"), 0.0F);

    machine.writeByte("Ftst", 1);
    machine.clock.advance(500);
    machine.writeByte("F0Md", 0);
    machine.clock.advance(30);
    ASSERT_EQ(machine.readByte("F0Md"), 0);
    EXPECT_EQ(machine.writeFloat("F0Tg", 1200), 0);
    machine.clock.advance(2000);
    EXPECT_EQ(machine.readFloat("F0Tg"), 1200.0F);
    EXPECT_EQ(machine.readFloat("F0Ac"), 1200.0F);

    machine.firmware.setAutomaticTarget(0, 2500);
    EXPECT_EQ(machine.readFloat("F0Tg"), 2500.0F);
}

} // namespace
} // namespace quorvane
