#include "Helpers/Clock.hpp"
#include "Platform/HwmonSMCUserClient.hpp"
#include "Platform/SMCMachine.hpp"
#include "SMC/FanController.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedHwmonDevice.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using Options = SimulatedHwmonDevice::Options;
using testing::TemporaryDirectory;

// The simulated Mac read and driven through its macsmc_hwmon folders, as app and helper do on a real Mac.
struct OverHwmon {
    explicit OverHwmon(Options options) : device(mac, directory.path(), options) {}

    std::shared_ptr<IOKitSMCBridge> bridge() {
        const auto machine = SMCMachine::choose({std::nullopt, device.hwmonRoot(), device.deviceTree()});
        auto smc =
            std::make_shared<IOKitSMCBridge>(machine.makeUserClient(), SMCWriteCapability::privilegedHelper);
        smc->open();
        return smc;
    }
    std::vector<std::string> keys() {
        auto smc = bridge();
        std::vector<std::string> names;
        for (std::uint32_t index = 0; index < smc->getKeyCount(); ++index) {
            names.push_back(IOKitSMCBridge::stringFromKey(smc->getKeyFromIndex(index)));
        }
        return names;
    }
    int mode(int fan) { return mac.status().fans[fan].mode.value_or(-1); }

    TemporaryDirectory directory;
    VirtualClock clock;
    SimulatedMac mac{SMCProfiles::mac15_11(), clock};
    SimulatedHwmonDevice device;
};

// Time the fan controller waits is time the device takes in what was written, as the server's ticks do.
class RefreshingClock final : public Clock {
public:
    explicit RefreshingClock(OverHwmon& machine) : machine_(machine) {}
    std::int64_t nowMilliseconds() const override { return machine_.clock.nowMilliseconds(); }
    void sleepFor(std::int64_t milliseconds) override {
        machine_.clock.advance(milliseconds);
        machine_.device.refresh();
    }

private:
    OverHwmon& machine_;
};

TEST(SimulatedHwmonDeviceTest, ByDefaultALaptopListsWhatItsDeviceTreeLists) {
    OverHwmon machine({});
    EXPECT_THAT(machine.keys(),
                ::testing::ElementsAre("F0Ac", "F0Md", "F0Mn", "F0Mx", "F0Tg", "F1Ac", "F1Md", "F1Mn", "F1Mx",
                                       "F1Tg", "FNum", "ID0R", "PDTR", "PHPC", "PMVR", "PSTR", "SBAV", "TB0T",
                                       "TCHP", "TH0x", "TW0P", "VD0R"));
}

// The older driver's tree keeps its nodes in groups; the channels and their values are the same.
TEST(SimulatedHwmonDeviceTest, TheGroupedLayoutReadsLikeTheFlatOne) {
    OverHwmon flat({});
    OverHwmon grouped({Options::Keys::mainline, Options::Layout::grouped, false});
    EXPECT_EQ(grouped.keys(), flat.keys());
    auto smc = grouped.bridge();
    EXPECT_NEAR(smc->readTemperature(SMCKey::fromString("TW0P")), *grouped.mac.temperature("TW0P"), 0.001);
    EXPECT_EQ(HwmonSMCUserClient::parameter(grouped.device.hwmonRoot() / "hwmon0")->name, "melt_my_mac");
}

TEST(SimulatedHwmonDeviceTest, WithFanControlTargetsFollowTheDriverAndAHandBackAfterAReloadReturnsTheFan) {
    OverHwmon machine({Options::Keys::extended, Options::Layout::flat, true});
    auto smc = machine.bridge();
    RefreshingClock clock(machine);
    FanController controller(smc, clock);
    controller.setFanMode(0, FanMode::manual);
    controller.setFanRPM(0, 3000);
    machine.device.refresh();
    EXPECT_EQ(machine.mode(0), 1);
    EXPECT_EQ(machine.mac.status().fans[0].targetRPM, 3000);

    // After a reload the driver's flag is clear and a plain 0 does nothing; the SMC keeps mode 1.
    machine.device.reload();
    controller.resetToAuto(0);
    machine.device.refresh();
    EXPECT_EQ(machine.mode(0), 0);
}

} // namespace
} // namespace quorvane
