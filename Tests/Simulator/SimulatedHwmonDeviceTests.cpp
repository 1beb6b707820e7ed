#include "Helpers/Clock.hpp"
#include "Helpers/SensorReader.hpp"
#include "Platform/SMCMachine.hpp"
#include "SMC/FanController.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedHwmonDevice.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <fstream>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::TemporaryDirectory;

// The simulated Mac read and driven through its macsmc_hwmon folders, as app and helper do on a real Mac.
TEST(SimulatedHwmonDeviceTest, TheMachineReadsThroughTheDriverAndTargetWritesFollowItsRules) {
    TemporaryDirectory directory;
    VirtualClock clock;
    SimulatedMac mac(SMCProfiles::mac15_11(), clock);
    const auto target = directory.path() / "hwmon/hwmon0/fan1_target";
    {
        SimulatedHwmonDevice device(mac, directory.path());
        const auto machine = SMCMachine::choose({std::nullopt, device.hwmonRoot(), device.deviceTree()});
        ASSERT_EQ(machine.kind(), SMCMachine::Kind::hwmon);
        EXPECT_EQ(machine.modelIdentifier(), "Mac15,11");
        auto smc =
            std::make_shared<IOKitSMCBridge>(machine.makeUserClient(), SMCWriteCapability::privilegedHelper);
        smc->open();
        EXPECT_TRUE(SensorReader(*smc).readCPUCoreAverage().hasValidatedFanZoneTopology)
            << "the published keys keep the verified topology";
        EXPECT_NEAR(smc->readTemperature(SMCKey::fromString("TCMz")), *mac.temperature("TCMz"), 0.001);

        FanController controller(smc, clock);
        controller.setFanMode(0, FanMode::manual);
        controller.setFanRPM(0, 3000);
        device.refresh();
        EXPECT_EQ(mac.status().fans[0].mode, 1);
        EXPECT_EQ(mac.status().fans[0].targetRPM, 3000);

        std::ofstream(target) << "9000\n"; // the driver refuses a target beyond the maximum
        device.refresh();
        EXPECT_EQ(mac.status().fans[0].targetRPM, 3000);
        EXPECT_EQ(smc->readFanRPM(SMCKey::fromString("F0Tg")), 3000);

        controller.resetToAuto(0);
        device.refresh();
        EXPECT_EQ(mac.status().fans[0].mode, 0);
    }
    EXPECT_FALSE(std::filesystem::exists(directory.path() / "hwmon")) << "the driver went with the device";
}

} // namespace
} // namespace quorvane
