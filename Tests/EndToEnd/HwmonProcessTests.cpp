// The whole system over a macsmc_hwmon device: app and helper find the simulated Mac only through the
// folders `quorvane-sim serve --hwmon` keeps, as on a real Mac running Linux. Bounded waits.
#include "ProcessFixture.hpp"
#include "Support/HwmonTree.hpp"
#include "Support/TemporaryDirectory.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

class HwmonProcessTest : public ProcessFixture {
protected:
    HwmonProcessTest() : ProcessFixture(QUORVANE_APP_BINARY, "Mac15,11", true) {}

    std::unique_ptr<ChildProcess> smartAuto() {
        return client(
            {"--headless", "--json", "--install-helper", "--run-supervised-test", "--preset", "Smart Auto"});
    }
};

// A helper killed with the app leaves the driver manual, and the next helper's start hands that back.
TEST_F(HwmonProcessTest, AHelperAfterACrashHandsBackTheDriver) {
    startHelper();
    auto quorvane = smartAuto();
    ASSERT_TRUE(eventually([&] { return manual(0) && manual(1); }, 60s)) << helper->output();
    quorvane->signal(SIGKILL);
    helper->signal(SIGKILL);
    ASSERT_TRUE(quorvane->wait(5s));
    ASSERT_TRUE(helper->wait(5s));
    ASSERT_TRUE(manual(0) && manual(1)) << "the driver keeps a fan manual until told otherwise";
    startHelper();
    EXPECT_TRUE(eventually([&] { return handedBack(); }, 16s)) << machine().dump() << helper->output();
}

// No helper and no simulated Mac: only the folders a mainline kernel gives an M1 Pro MacBook Pro.
TEST(HeadlessOverHwmonTest, AMainlineM1MacBookProShowsBothFansItsFourChannelsAndWhyThereIsNoControl) {
    TemporaryDirectory directory;
    HwmonTree tree(directory.path() / "root");
    ChildProcess quorvane(QUORVANE_APP_BINARY, {"--headless", "--polls", "1", "--json"},
                          {"QUORVANE_HWMON_ROOT=" + tree.hwmonRoot().string(),
                           "QUORVANE_DEVICE_TREE=" + tree.deviceTree().string(),
                           "QUORVANE_HELPER_SOCKET=" + (directory.path() / "helper.sock").string(),
                           "XDG_CONFIG_HOME=" + (directory.path() / "config").string(),
                           "XDG_STATE_HOME=" + (directory.path() / "state").string()},
                          directory.path() / "app.log");
    ASSERT_EQ(quorvane.wait(30s), 0) << quorvane.output();
    const auto objects = polls(quorvane);
    ASSERT_FALSE(objects.empty()) << quorvane.output();
    const auto& poll = objects.back();
    ASSERT_EQ(poll["fans"].size(), 2u) << poll.dump(2);
    EXPECT_EQ(poll["fans"][0]["actualRPM"], 1203);
    EXPECT_EQ(poll["fans"][1]["maximumRPM"], 5779);
    std::vector<std::string> sensors;
    for (const auto& sensor : poll["sensors"]) {
        sensors.push_back(sensor["key"]);
    }
    EXPECT_EQ(sensors, (std::vector<std::string>{"TB0T", "TCHP", "TH0x", "TW0P"}));
    EXPECT_EQ(poll["displayTemperature"], 36.75);
    EXPECT_EQ(poll["thermalControlSupported"], false);
    EXPECT_EQ(
        poll["controlUnavailable"],
        "Fan control is unavailable because this Mac's SMC does not report the CPU core temperatures that "
        "fan control is computed from (CPU Core Average has only 0 valid channels); Quorvane monitors only.");
    EXPECT_EQ(poll["smc"], "macsmc_hwmon at " + tree.device().string());
}

// A helper started beside mbpfan leaves the driver's fans to it; once it has gone, what the last
// helper left manual goes back and the app's next session takes control within two polls.
TEST_F(HwmonProcessTest, ARecoverySkippedForACompetitorIsDoneOnceItHasGone) {
    startHelper();
    auto owner = smartAuto();
    ASSERT_TRUE(eventually([&] { return manual(0) && manual(1); }, 60s)) << owner->output();
    owner->signal(SIGKILL);
    helper->signal(SIGKILL);
    ASSERT_TRUE(owner->wait(5s));
    ASSERT_TRUE(helper->wait(5s));
    fs::copy_file("/bin/sleep", directory / "mbpfan");
    auto competitor = std::make_unique<ChildProcess>(directory / "mbpfan", std::vector<std::string>{"600"},
                                                     environment, directory / "mbpfan.log");
    startHelper();
    ASSERT_TRUE(eventually(
        [&] { return helper->output().find("startup recovery skipped") != std::string::npos; }, 10s))
        << helper->output();
    competitor.reset();
    auto quorvane = client({"--headless", "--json", "--install-helper", "--run-supervised-test"});
    ASSERT_TRUE(eventually(
        [&] { return helper->output().find("control session started") != std::string::npos; }, 30s))
        << quorvane->output() << helper->output();
    EXPECT_LE(polls(*quorvane).size(), 2u) << quorvane->output();
    for (const auto& poll : polls(*quorvane)) {
        EXPECT_TRUE(poll["error"].is_null()) << poll.dump();
    }
}

} // namespace
} // namespace quorvane
