// Quorvane itself, headless, beside the real helper and a running simulated Mac. Bounded waits.
#include "ProcessFixture.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

class AppProcessTest : public ProcessFixture {
protected:
    explicit AppProcessTest(std::string profile = "Mac15,11", bool overHwmon = false)
        : ProcessFixture(QUORVANE_APP_BINARY, profile, overHwmon) {}

    // The helper running and Smart Auto in control of both fans.
    std::unique_ptr<ChildProcess> smartAutoInControl() {
        startHelper();
        auto quorvane = app();
        EXPECT_TRUE(eventually([&] { return bothManual(); }, 60s)) << quorvane->output() << helper->output();
        return quorvane;
    }
};

// The same two scenarios over the simulator's socket and over the macsmc_hwmon device it keeps.
class ControlProcessTest : public AppProcessTest, public ::testing::WithParamInterface<bool> {
protected:
    ControlProcessTest() : AppProcessTest("Mac15,11", GetParam()) {}
};

TEST_P(ControlProcessTest, SmartAutoUnderLoadOutrunsTheSystemAndQuittingHandsBack) {
    smc().setWorkload("steady");
    // 80 simulated seconds of load under the system's own curve.
    ASSERT_TRUE(eventually([&] { return machine()["workloadSeconds"].get<double>() >= 80; }, 60s));
    const auto automatic = actual(0);
    auto quorvane = smartAutoInControl();
    EXPECT_TRUE(eventually([&] { return actual(0) > automatic + 500; }, 20s))
        << "automatic " << automatic << ", now " << actual(0);
    if (GetParam()) {
        const auto device = directory / "machine/hwmon/hwmon0";
        // The machine follows what was last written to fan1_target.
        EXPECT_TRUE(eventually(
            [&] {
                std::string written;
                std::getline(std::ifstream(device / "fan1_target"), written);
                return std::to_string(std::llround(machine()["fans"][0]["targetRPM"].get<double>())) ==
                       written;
            },
            5s));
        EXPECT_EQ(polls(*quorvane).back()["smc"], "macsmc_hwmon at " + device.string());
    }
    quit(*quorvane);
    EXPECT_TRUE(eventually([&] { return handedBack(); }, 5s)) << machine().dump() << helper->output();
}

TEST_P(ControlProcessTest, AKilledAppIsRevertedWithinTheLease) {
    auto quorvane = smartAutoInControl();
    quorvane->signal(SIGKILL);
    ASSERT_TRUE(quorvane->wait(5s));
    EXPECT_TRUE(eventually([&] { return handedBack(); }, 30s)) << machine().dump();
}

INSTANTIATE_TEST_SUITE_P(Over, ControlProcessTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Hwmon" : "Socket"; });

class UnverifiedAppProcessTest : public AppProcessTest {
protected:
    UnverifiedAppProcessTest() : AppProcessTest("Mac14,6") {}
};

TEST_F(UnverifiedAppProcessTest, AnUnverifiedMacStaysMonitoringOnly) {
    startHelper();
    auto quorvane =
        client({"--headless", "--json", "--install-helper", "--preset", "Smart Auto", "--polls", "4"});
    EXPECT_EQ(quorvane->wait(60s), 0) << quorvane->output();
    EXPECT_NE(
        quorvane->output().find("Fan control is hardware-verified only on Mac15,11. This Mac14,6 remains in "
                                "safe monitoring-only mode until its sensor and fan topology is validated."),
        std::string::npos)
        << quorvane->output();
    EXPECT_FALSE(manual(0) || manual(1));
}

} // namespace
} // namespace quorvane
