#include "Client/TelemetryPoller.hpp"
#include "Platform/HwmonSMCUserClient.hpp"
#include "SMC/SMCError.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Support/FakeDaemonRegistration.hpp"
#include "Support/HwmonTree.hpp"
#include "Support/ManualExecutor.hpp"
#include "Support/SimulatedMachine.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::FakeDaemonRegistration;
using testing::HwmonTree;
using testing::ManualExecutor;
using testing::SimulatedMachine;
using testing::TemporaryDirectory;

// One read, run to its completion.
TelemetryPoller::Result readOnce(TelemetryPoller& poller, ManualExecutor& pollQueue) {
    std::vector<TelemetryPoller::Result> results;
    poller.read([&](TelemetryPoller::Result result) { results.push_back(std::move(result)); });
    EXPECT_TRUE(results.empty()) << "reads run on the poll queue";
    pollQueue.runPending();
    EXPECT_EQ(results.size(), 1u);
    return results.empty() ? TelemetryPoller::Result(std::exception_ptr()) : std::move(results.front());
}

// The SMC error a read failed with; nullopt for a snapshot or another error.
std::optional<SMCError> failure(const TelemetryPoller::Result& result) {
    if (const auto* error = std::get_if<std::exception_ptr>(&result); error && *error) {
        try {
            std::rethrow_exception(*error);
        } catch (const SMCError& smcError) {
            return smcError;
        } catch (...) {
        }
    }
    return std::nullopt;
}

// The poller over a simulated machine, reading as the unprivileged app does; reads run when the
// test runs the poll queue.
class TelemetryPollerTest : public ::testing::Test {
protected:
    explicit TelemetryPollerTest(const char* profile = "Mac15,11")
        : machine(*SMCProfiles::named(profile)), pollQueue(machine.clock),
          poller(firmware.makeUserClient(false), registration, pollQueue) {}

    TelemetryPoller::Result readNow() { return readOnce(poller, pollQueue); }

    SimulatedMachine machine;
    SimulatedAppleSMC& firmware = machine.firmware;
    ManualExecutor pollQueue;
    FakeDaemonRegistration registration;
    TelemetryPoller poller;
};

TEST_F(TelemetryPollerTest, SnapshotCarriesEveryFanTheCompositeTheChannelsAndTheHelperState) {
    poller.open();
    registration.currentStatus = 2;
    auto result = readNow();
    ASSERT_TRUE(std::holds_alternative<TelemetrySnapshot>(result));
    const auto& snapshot = std::get<TelemetrySnapshot>(result);
    ASSERT_EQ(snapshot.fans.size(), 2u);
    // The 14-inch M3 Max's fans: 1200 RPM at the bottom, 6900 and 7450 at the top.
    EXPECT_EQ(snapshot.fans[0].index, 0);
    EXPECT_EQ(snapshot.fans[1].index, 1);
    EXPECT_EQ(snapshot.fans[0].minRPM, 1200);
    EXPECT_EQ(snapshot.fans[0].maxRPM, 6900);
    EXPECT_EQ(snapshot.fans[1].maxRPM, 7450);
    EXPECT_FALSE(snapshot.average->contributingKeys.empty());
    EXPECT_FALSE(snapshot.average->fanZoneReadings.empty());
    EXPECT_GT(snapshot.readings.size(), snapshot.average->contributingKeys.size());
    EXPECT_EQ(rawValue(snapshot.helperState), "Approval required");

    registration.currentStatus = 1; // the user approved the helper
    result = readNow();
    ASSERT_TRUE(std::holds_alternative<TelemetrySnapshot>(result));
    EXPECT_EQ(rawValue(std::get<TelemetrySnapshot>(result).helperState), "Approved");
    EXPECT_EQ(poller.currentHelperState(), HelperInstallState::enabled);
}

TEST_F(TelemetryPollerTest, OneUnreadableFanFailsEveryPollWithoutReadingTemperatures) {
    firmware.hideKey(SMCKey::fromString("F1Ac"));
    auto result = readNow();
    ASSERT_TRUE(failure(result));
    EXPECT_EQ(failure(result)->kind(), SMCError::Kind::notOpen) << "read before open";

    poller.open();
    result = readNow();
    ASSERT_TRUE(failure(result));
    EXPECT_EQ(failure(result)->kind(), SMCError::Kind::readFailed);
    EXPECT_EQ(failure(result)->text(), "Fan telemetry is incomplete (1 of 2 fans)");

    const auto before = firmware.exchangeCount();
    result = readNow();
    ASSERT_TRUE(failure(result));
    EXPECT_EQ(failure(result)->text(), "Fan telemetry is incomplete (1 of 2 fans)");
    EXPECT_LT(firmware.exchangeCount() - before, 40u) << "no sensor discovery behind a failed fan read";

    firmware.clearFaults();
    result = readNow();
    ASSERT_TRUE(std::holds_alternative<TelemetrySnapshot>(result));
    EXPECT_EQ(std::get<TelemetrySnapshot>(result).fans.size(), 2u);

    poller.close();
    ASSERT_TRUE(failure(readNow()));
    EXPECT_EQ(failure(readNow())->kind(), SMCError::Kind::notOpen) << "read after close";
}

class FanlessTelemetryPollerTest : public TelemetryPollerTest {
protected:
    FanlessTelemetryPollerTest() : TelemetryPollerTest("Mac14,2") {}
};

TEST_F(FanlessTelemetryPollerTest, MachineWithoutFansGivesCompleteSnapshots) {
    poller.open();
    const auto result = readNow();
    ASSERT_TRUE(std::holds_alternative<TelemetrySnapshot>(result));
    const auto& snapshot = std::get<TelemetrySnapshot>(result);
    EXPECT_TRUE(snapshot.fans.empty());
    EXPECT_FALSE(snapshot.readings.empty());
    EXPECT_GT(snapshot.average->temperature, 0);
}

// A real Mac's driver lists only a few channels and may lose one between polls.
TEST(HwmonTelemetryPollerTest, FewChannelsStillMakeSnapshotsAndAChannelThatVanishesIsLeftOut) {
    TemporaryDirectory directory;
    HwmonTree tree(directory.path());
    VirtualClock clock;
    ManualExecutor pollQueue(clock);
    FakeDaemonRegistration registration;
    TelemetryPoller poller(std::make_unique<HwmonSMCUserClient>(tree.device()), registration, pollQueue);
    poller.open();

    auto result = readOnce(poller, pollQueue);
    ASSERT_TRUE(std::holds_alternative<TelemetrySnapshot>(result)) << failure(result)->what();
    EXPECT_EQ(std::get<TelemetrySnapshot>(result).fans.size(), 2u);
    EXPECT_EQ(std::get<TelemetrySnapshot>(result).readings.size(), 4u);
    EXPECT_FALSE(std::get<TelemetrySnapshot>(result).average);
    EXPECT_EQ(std::get<TelemetrySnapshot>(result).compositeUnavailable,
              "CPU Core Average has only 0 valid channels");

    tree.remove("temp2_input"); // TB0T
    result = readOnce(poller, pollQueue);
    ASSERT_TRUE(std::holds_alternative<TelemetrySnapshot>(result));
    std::vector<std::string> keys;
    for (const auto& reading : std::get<TelemetrySnapshot>(result).readings) {
        keys.push_back(reading.keyName);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"TCHP", "TH0x", "TW0P"}));

    tree.remove("fan2_input");
    result = readOnce(poller, pollQueue);
    ASSERT_TRUE(failure(result));
    EXPECT_EQ(failure(result)->text(), "Fan telemetry is incomplete (1 of 2 fans)");
}

} // namespace
} // namespace quorvane
