// The macsmc_hwmon transport over folders laid out as the kernel lays out the driver's sysfs device
// and device tree, and how the machine and its model are chosen.
#include "Helpers/Clock.hpp"
#include "Helpers/SensorReader.hpp"
#include "Platform/HardwareModel.hpp"
#include "Platform/HwmonSMCUserClient.hpp"
#include "Platform/SMCMachine.hpp"
#include "SMC/FanCapabilityProbe.hpp"
#include "SMC/FanController.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "SMC/SMCError.hpp"
#include "Simulator/RunningSimulator.hpp"
#include "Support/HwmonTree.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using testing::HwmonTree;
using testing::TemporaryDirectory;

class HwmonSMCUserClientTest : public ::testing::Test {
protected:
    SMCMachine machine() const {
        return SMCMachine::choose({std::nullopt, tree.hwmonRoot(), tree.deviceTree()});
    }
    // The helper's side: a bridge that may write fan keys and a controller over it.
    std::shared_ptr<IOKitSMCBridge> writer(bool controlling = false) {
        auto bridge = std::make_shared<IOKitSMCBridge>(machine().makeUserClient(controlling),
                                                       SMCWriteCapability::privilegedHelper);
        bridge->open();
        return bridge;
    }

    TemporaryDirectory directory;
    HwmonTree tree{directory.path()};
    VirtualClock clock;
};

TEST_F(HwmonSMCUserClientTest, TheBridgeReadsTheFansAndTemperaturesTheDeviceTreeNames) {
    const auto chosen = machine();
    ASSERT_EQ(chosen.kind(), SMCMachine::Kind::hwmon);
    EXPECT_EQ(chosen.description(), "macsmc_hwmon at " + tree.device().string());
    EXPECT_EQ(chosen.modelIdentifier(), "MacBookPro18,3");

    auto smc = writer();
    auto& bridge = *smc;

    // Labels, not node order, say which channel is which.
    SensorReader reader(bridge);
    std::vector<std::pair<std::string, double>> readings;
    for (const auto& reading : reader.readAllTemperatures()) {
        readings.emplace_back(reading.keyName, reading.value);
    }
    EXPECT_THAT(readings, ElementsAre(std::pair{"TB0T", 29.25}, std::pair{"TCHP", 33.0},
                                      std::pair{"TH0x", 31.5}, std::pair{"TW0P", 36.75}));

    const auto capabilities = FanCapabilityProbe(bridge).probe();
    ASSERT_EQ(capabilities.fans.size(), 2u);
    EXPECT_TRUE(capabilities.fans[0].isControllable() && capabilities.fans[1].isControllable());
    EXPECT_FALSE(capabilities.hasDiagnosticLock) << "no Ftst through the driver";
    FanController controller(smc, clock);
    const auto left = controller.getFanInfo(0);
    EXPECT_EQ(std::tuple(left.actualRPM, left.minRPM, left.maxRPM, left.mode),
              std::tuple(1203, 1200, 5779, FanMode::automatic));
    EXPECT_EQ(controller.getFanInfo(1).actualRPM, 0);
}

TEST_F(HwmonSMCUserClientTest,
       ManualAndATargetLandInFanTargetAnOutOfRangeOneIsRefusedAndAutomaticWritesZero) {
    auto smc = writer();
    FanController controller(smc, clock);
    controller.setFanMode(0, FanMode::manual);
    EXPECT_EQ(tree.value("fan1_target"), "1203") << "the driver goes manual with the first target";
    controller.setFanRPM(0, 2400);
    EXPECT_EQ(tree.value("fan1_target"), "2400");
    EXPECT_EQ(controller.getFanInfo(0).mode, FanMode::manual);
    EXPECT_THAT([&] { smc->writeKeyUnverified(SMCKey::fromString("F0Tg"), SMCValue::float32(9000)); },
                ::testing::ThrowsMessage<SMCError>(
                    ::testing::StrEq("write bytes for F0Tg failed (IOKit 0xe00002c2)")))
        << "the driver's EINVAL";
    EXPECT_EQ(tree.value("fan1_target"), "2400");

    controller.resetToAuto(0);
    EXPECT_EQ(tree.value("fan1_target"), "0");
    EXPECT_EQ(controller.getFanInfo(0).mode, FanMode::automatic);

    // The target of an automatic fan reads as the SMC's own. A target written to it must not take it
    // out of automatic, as any target written to fanX_target would; it is held for the hand-back's
    // read-back only.
    tree.set("fan1_target", "1850\n");
    EXPECT_EQ(smc->readFanRPM(SMCKey::fromString("F0Tg")), 1850);
    smc->writeKeyUnverified(SMCKey::fromString("F0Tg"), SMCValue::float32(1200));
    EXPECT_EQ(tree.value("fan1_target"), "1850");
}

// The driver's failures on a hand-back: every SMC failure is EIO and a slow one ETIMEDOUT, both retried;
// after the failed write nobody knows the driver's flag, so the fan gets its minimum, then 0.
class FailingHwmonWriteTest : public HwmonSMCUserClientTest, public ::testing::WithParamInterface<int> {};

TEST_P(FailingHwmonWriteTest, AFailedHandBackIsRetriedWithTheMinimumFirst) {
    std::vector<std::string> written;
    int failures = 0;
    HwmonSMCUserClient::Options options;
    options.writeFile = [&](const std::filesystem::path& file, const std::string& text) {
        if (failures > 0) {
            --failures;
            return GetParam();
        }
        written.push_back(text);
        std::ofstream(file) << text;
        return 0;
    };
    auto smc = std::make_shared<IOKitSMCBridge>(std::make_unique<HwmonSMCUserClient>(tree.device(), options),
                                                SMCWriteCapability::privilegedHelper);
    smc->open();
    FanController controller(smc, clock);
    controller.setFanMode(0, FanMode::manual);
    controller.setFanRPM(0, 2400);
    failures = 1;
    if (GetParam() == EOPNOTSUPP) {
        EXPECT_THAT(
            [&] { controller.resetToAuto(0); },
            ::testing::ThrowsMessage<SMCError>(::testing::StrEq(
                "Fan control is off in the kernel's macsmc_hwmon driver; it takes fan speeds only when "
                "loaded with fan_control=1 (melt_my_mac=1 on older kernels).")));
        return;
    }
    controller.resetToAuto(0);
    EXPECT_THAT(written, ElementsAre("2400\n", "1200\n", "0\n"));
    EXPECT_EQ(controller.getFanInfo(0).mode, FanMode::automatic);
}

INSTANTIATE_TEST_SUITE_P(DriverErrors, FailingHwmonWriteTest, ::testing::Values(EIO, ETIMEDOUT, EOPNOTSUPP));

TEST_F(HwmonSMCUserClientTest, AControllingTransportHandsBackWhatACrashedPredecessorLeftManual) {
    tree.set("fan2_target", "3000\n"); // left by a helper that was killed
    auto smc = writer(true);
    FanController controller(smc, clock);
    EXPECT_EQ(controller.getFanInfo(1).mode, FanMode::manual);
    controller.resetToAuto(1);
    EXPECT_EQ(tree.value("fan2_target"), "0");
    EXPECT_EQ(controller.getFanInfo(1).mode, FanMode::automatic);
}

TEST_F(HwmonSMCUserClientTest, WithoutFanControlTheFansAreMonitoredOnlyAndWritesAreRefused) {
    for (const char* target : {"fan1_target", "fan2_target"}) {
        std::filesystem::permissions(tree.device() / target, std::filesystem::perms(0444)); // fan_control=0
    }
    auto smc = writer(true);
    const auto capabilities = FanCapabilityProbe(*smc).probe();
    ASSERT_EQ(capabilities.fans.size(), 2u);
    EXPECT_FALSE(capabilities.fans[0].canSwitchMode);
    EXPECT_FALSE(capabilities.fans[0].canSetTarget);
    EXPECT_EQ(FanController(smc, clock).getFanInfo(0).mode, FanMode::automatic)
        << "a fan nobody can write was left by nobody";
    EXPECT_THAT([&] { smc->writeKeyUnverified(SMCKey::fromString("F0Md"), SMCValue::uint8(1)); },
                ::testing::ThrowsMessage<SMCError>(
                    ::testing::StrEq("SMC write failed: F0Md metadata does not grant write access")));
    EXPECT_EQ(tree.value("fan1_target"), "1203");
}

TEST_F(HwmonSMCUserClientTest, MachineSelectionPrefersTheSocketThenTheDriverAndSaysWhenAnAppleBoardHasNone) {
    const SMCMachine::Roots withSocket{"/tmp/sim.sock", tree.hwmonRoot(), tree.deviceTree()};
    EXPECT_EQ(SMCMachine::choose(withSocket).kind(), SMCMachine::Kind::simulated);
    EXPECT_EQ(SMCMachine::choose(withSocket).location(), "/tmp/sim.sock");
    tree.set("name", "nvme\n");
    const auto missing = machine();
    EXPECT_EQ(missing.kind(), SMCMachine::Kind::missingDriver) << "not a simulated Mac passing for this one";
    EXPECT_EQ(
        missing.description(),
        "No macsmc_hwmon device on this Apple-silicon Mac (apple,j314s): the kernel's macsmc_hwmon driver "
        "reads its SMC, in Fedora Asahi Remix kernels and in mainline Linux from 6.19 once the board's "
        "device tree lists its channels; check with \"cat /sys/class/hwmon/*/name\".");
    EXPECT_THROW(IOKitSMCBridge(missing.makeUserClient()).open(), SMCError);
    EXPECT_EQ(missing.modelIdentifier(), "MacBookPro18,3");

    std::ofstream(tree.deviceTree() / "compatible", std::ios::binary)
        << std::string("apple,j999\0apple,t6000\0", 24);
    HardwareModel::Sources sources;
    sources.smcSocketPath.reset();
    sources.deviceTreePath = tree.deviceTree().string();
    EXPECT_EQ(HardwareModel::identifier(sources), "Unknown Mac (apple,j999)");
}

TEST(HardwareModelTest, PrefersTheServedMachineThenTheProductNameThenUnknown) {
    TemporaryDirectory directory;
    HardwareModel::Sources sources;
    sources.smcSocketPath = (directory.path() / "smc.sock").string();
    sources.productNamePath = (directory.path() / "product_name").string();
    EXPECT_EQ(HardwareModel::identifier(sources), "Unknown Mac");
    std::ofstream(sources.productNamePath) << "MacBookPro18,3 \n";
    EXPECT_EQ(HardwareModel::identifier(sources), "MacBookPro18,3");

    testing::RunningSimulator sim(SMCProfiles::mac14_6(), PeerPolicy::standard(), *sources.smcSocketPath);
    EXPECT_EQ(HardwareModel::identifier(sources), "Mac14,6");
}

} // namespace
} // namespace quorvane
