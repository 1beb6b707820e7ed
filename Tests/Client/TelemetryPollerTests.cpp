#include "Client/TelemetryPoller.hpp"
#include "Platform/HwmonSMCUserClient.hpp"
#include "SMC/SMCError.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Support/FakeDaemonRegistration.hpp"
#include "Support/HwmonTree.hpp"
#include "Support/ManualExecutor.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::HwmonTree;
using testing::ManualExecutor;

// What one read completed with: a snapshot or the SMC error it failed with.
struct Read {
    std::optional<TelemetrySnapshot> snapshot;
    std::optional<SMCError> error;
};

// The poller reading as the unprivileged app does; a read runs when the test runs the poll queue.
class TelemetryPollerTest : public ::testing::Test {
protected:
    void make(std::unique_ptr<SMCUserClient> transport) {
        poller = std::make_unique<TelemetryPoller>(std::move(transport), registration, pollQueue);
    }
    void simulate(const char* profile = "Mac15,11") {
        firmware.emplace(*SMCProfiles::named(profile), clock);
        make(firmware->makeUserClient(false));
    }

    Read readNow() {
        std::vector<TelemetryPoller::Result> results;
        poller->read([&](TelemetryPoller::Result result) { results.push_back(std::move(result)); });
        EXPECT_TRUE(results.empty()) << "reads run on the poll queue";
        pollQueue.runPending();
        EXPECT_EQ(results.size(), 1u);
        Read read;
        if (const auto* snapshot = std::get_if<TelemetrySnapshot>(&results.at(0))) {
            read.snapshot = *snapshot;
            return read;
        }
        try {
            std::rethrow_exception(std::get<std::exception_ptr>(results[0]));
        } catch (const SMCError& error) {
            read.error = error;
        }
        return read;
    }

    VirtualClock clock;
    std::optional<SimulatedAppleSMC> firmware;
    ManualExecutor pollQueue{clock};
    testing::FakeDaemonRegistration registration;
    std::unique_ptr<TelemetryPoller> poller;
};

TEST_F(TelemetryPollerTest, SnapshotCarriesEveryFanTheCompositeTheChannelsAndTheHelperState) {
    simulate();
    poller->open();
    registration.currentStatus = 2;
    auto read = readNow();
    ASSERT_TRUE(read.snapshot);
    const auto& fans = read.snapshot->fans;
    ASSERT_EQ(fans.size(), 2u);
    // The 14-inch M3 Max's fans: 1200 RPM at the bottom, 6900 and 7450 at the top.
    EXPECT_EQ(fans[1].index, 1);
    EXPECT_EQ(fans[0].minRPM, 1200);
    EXPECT_EQ(fans[0].maxRPM, 6900);
    EXPECT_EQ(fans[1].maxRPM, 7450);
    EXPECT_FALSE(read.snapshot->average->fanZoneReadings.empty());
    EXPECT_GT(read.snapshot->readings.size(), read.snapshot->average->contributingKeys.size());
    EXPECT_EQ(rawValue(read.snapshot->helperState), "Approval required");

    registration.currentStatus = 1; // the user approved the helper
    EXPECT_EQ(rawValue(readNow().snapshot.value().helperState), "Approved");
    EXPECT_EQ(poller->currentHelperState(), HelperInstallState::enabled);
}

TEST_F(TelemetryPollerTest, OneUnreadableFanFailsEveryPollWithoutReadingTemperatures) {
    simulate();
    firmware->hideKey(SMCKey::fromString("F1Ac"));
    EXPECT_EQ(readNow().error.value().kind(), SMCError::Kind::notOpen) << "read before open";

    poller->open();
    EXPECT_EQ(readNow().error.value().text(), "Fan telemetry is incomplete (1 of 2 fans)");
    const auto before = firmware->exchangeCount();
    const auto read = readNow();
    ASSERT_TRUE(read.error);
    EXPECT_EQ(read.error->kind(), SMCError::Kind::readFailed);
    EXPECT_EQ(read.error->text(), "Fan telemetry is incomplete (1 of 2 fans)");
    EXPECT_LT(firmware->exchangeCount() - before, 40u) << "no sensor discovery behind a failed fan read";

    firmware->clearFaults();
    EXPECT_EQ(readNow().snapshot.value().fans.size(), 2u);
    poller->close();
    EXPECT_EQ(readNow().error.value().kind(), SMCError::Kind::notOpen) << "read after close";
}

// A real Mac's driver lists only a few channels and may lose one between polls.
TEST_F(TelemetryPollerTest, FewHwmonChannelsStillMakeSnapshotsAndAChannelThatVanishesIsLeftOut) {
    testing::TemporaryDirectory directory;
    HwmonTree tree(directory.path());
    make(std::make_unique<HwmonSMCUserClient>(tree.device()));
    poller->open();
    auto read = readNow();
    ASSERT_TRUE(read.snapshot) << read.error.value().what();
    EXPECT_EQ(read.snapshot->fans.size(), 2u);
    EXPECT_EQ(read.snapshot->readings.size(), 4u);
    EXPECT_FALSE(read.snapshot->average);
    EXPECT_EQ(read.snapshot->compositeUnavailable, "CPU Core Average has only 0 valid channels");

    tree.remove("temp2_input"); // TB0T
    read = readNow();
    ASSERT_TRUE(read.snapshot);
    std::vector<std::string> keys;
    for (const auto& reading : read.snapshot->readings) {
        keys.push_back(reading.keyName);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"TCHP", "TH0x", "TW0P"}));

    tree.remove("fan2_input");
    EXPECT_EQ(readNow().error.value().text(), "Fan telemetry is incomplete (1 of 2 fans)");
}

} // namespace
} // namespace quorvane
