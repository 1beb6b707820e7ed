#include "SMC/FanCapabilityProbe.hpp"
#include "Support/SimulatedMachine.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::SimulatedMachine;
using testing::tableProfile;
using testing::twoFanKeys;

HardwareCapabilities probe(std::vector<SimulatedKey> keys) {
    SimulatedMachine machine(tableProfile(std::move(keys)));
    return FanCapabilityProbe(*machine.bridge).probe();
}

std::vector<SimulatedKey> replaced(std::vector<SimulatedKey> keys, SimulatedKey replacement) {
    for (auto& key : keys) {
        if (key.key == replacement.key) {
            key = replacement;
        }
    }
    return keys;
}

TEST(FanCapabilityProbeTest, TwoWellFormedFansAreControllable) {
    auto keys = twoFanKeys();
    keys.push_back(SimulatedKey::ui8("Ftst", 0, 0xD0));
    const auto capabilities = probe(keys);
    ASSERT_EQ(capabilities.fanIndices(), (std::vector<int>{0, 1}));
    EXPECT_TRUE(capabilities.hasDiagnosticLock);
    EXPECT_EQ(capabilities.fan(1), (FanCapability{1, true, true, true, 1200, 6000}));
    EXPECT_TRUE(capabilities.fan(1)->isControllable());
    EXPECT_EQ(capabilities.supervisedFanIndex(), 0);
}

TEST(FanCapabilityProbeTest, WrongTypesAndMissingBitsMakeAFanUncontrollable) {
    const auto modeUi16 = probe(replaced(twoFanKeys(), SimulatedKey::ui16("F0Md", 0, 0xD0)));
    EXPECT_FALSE(modeUi16.fan(0)->canSwitchMode);
    EXPECT_FALSE(modeUi16.fan(0)->isControllable());

    EXPECT_FALSE(probe(replaced(twoFanKeys(), SimulatedKey::flt("F0Tg", 0, 0x84))).fan(0)->canSetTarget);

    const auto minimumZero = probe(replaced(twoFanKeys(), SimulatedKey::flt("F0Mn", 0, 0x84)));
    EXPECT_EQ(minimumZero.fan(0)->minimumRPM, std::nullopt);
    EXPECT_FALSE(minimumZero.fan(0)->isControllable());
    EXPECT_EQ(minimumZero.supervisedFanIndex(), 1);

    EXPECT_FALSE(
        probe(replaced(twoFanKeys(), SimulatedKey::flt("F1Mx", 1000, 0x84))).fan(1)->isControllable());
}

// A fan with only an actual key is listed but read-only; indices are independent and stop at nine.
TEST(FanCapabilityProbeTest, ActualKeysAloneListReadOnlyFansUpToIndexNine) {
    const auto capabilities = probe({SimulatedKey::flt("F0Ac", 0), SimulatedKey::flt("F2Ac", 0),
                                     SimulatedKey::flt("F9Ac", 0), SimulatedKey::flt("F:Ac", 0)});
    EXPECT_EQ(capabilities.fanIndices(), (std::vector<int>{0, 2, 9}));
    EXPECT_EQ(capabilities.fan(0), (FanCapability{0, true, false, false, std::nullopt, std::nullopt}));
    EXPECT_EQ(capabilities.supervisedFanIndex(), 0);
}

TEST(FanCapabilityProbeTest, DiagnosticLockMustBeAWritableByte) {
    for (const auto& lock : {SimulatedKey::flt("Ftst", 0, 0xD0), SimulatedKey::ui8("Ftst", 0, 0x80)}) {
        auto keys = twoFanKeys();
        keys.push_back(lock);
        EXPECT_FALSE(probe(keys).hasDiagnosticLock) << lock.dataType;
    }
}

} // namespace
} // namespace quorvane
