#include "Helpers/Clock.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "SMC/SMCError.hpp"
#include "SMC/SMCKey.hpp"
#include "Support/SimulatedMachine.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::SimulatedMachine;
using testing::tableProfile;

TEST(SMCKeyTest, PacksBigEndianAndPrintsBack) {
    const SMCKey mode = SMCKey::fromString("F0Md");
    EXPECT_EQ(mode.rawValue, 0x46304D64u);
    EXPECT_EQ(IOKitSMCBridge::stringFromKey(mode), "F0Md");
    EXPECT_EQ(IOKitSMCBridge::stringFromKey(SMCKey(0x46FF4D64u)), "????");
    EXPECT_EQ(SMCKey::fan(9, "Md"), SMCKey::fromString("F9Md"));
}

// The other texts are pinned where the bridge raises them (IOKitSMCBridgeTests).
TEST(SMCErrorTest, MessagesAreTheUserVisibleText) {
    EXPECT_STREQ(SMCError::ioKitFailed("x", 0x0a).what(), "x failed (IOKit 0xa)");
    EXPECT_STREQ(SMCError::connectionFailedWithCode(0x2c7).what(), "Failed to open AppleSMC (IOKit 0x2c7)");
    EXPECT_STREQ(SMCError::permissionDenied().what(), "Permission denied by AppleSMC");
    EXPECT_STREQ(SMCError::keyCountMismatch().what(), "SMC key enumeration count did not match #KEY");
}

class SMCWaitTest : public ::testing::Test {
protected:
    SimulatedMachine machine{
        tableProfile({SimulatedKey::flt("XTGT", 1998.0F, 0xC0), SimulatedKey::ui8("Ftst", 1, 0xD0)})};
};

TEST_F(SMCWaitTest, ZeroTimeoutReturnsWithoutReadingAndAValueOfAnotherCaseNeverMatches) {
    EXPECT_FALSE(machine.bridge->waitForUInt8(SMCKey::fanTestMode, 1, 0, machine.clock));
    EXPECT_TRUE(machine.log->inputs.empty());
    // A float 1.0 is not the byte 1.
    EXPECT_FALSE(machine.bridge->waitForUInt8(SMCKey::fromString("XTGT"), 1, 1, machine.clock));
    EXPECT_TRUE(machine.bridge->waitForUInt8(SMCKey::fanTestMode, 1, 1, machine.clock));
}

TEST_F(SMCWaitTest, FailingReadsPollEvery200MillisecondsUntilTheDeadline) {
    machine.firmware.hideKey(SMCKey::fanTestMode);
    EXPECT_FALSE(machine.bridge->waitForUInt8(SMCKey::fanTestMode, 1, 12, machine.clock));
    EXPECT_EQ(machine.clock.nowMilliseconds(), 12000);
    EXPECT_EQ(machine.clock.sleepCount(), 60);
}

} // namespace
} // namespace quorvane
