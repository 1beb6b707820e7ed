#include "App/AppModelFixture.hpp"

namespace quorvane::testing {
namespace {

using Property = AppModel::Property;

TEST_F(AppModelTest, storedSettingsAreClampedOnLoadButSettersKeepWhatTheyAreGiven) {
    struct Case {
        std::optional<double> interval, threshold;
        double loadedInterval, loadedThreshold;
    };
    for (const auto& c : {Case{0.2, 30, 1.0, 40}, Case{9, 120, 5.0, 100},
                          Case{std::nullopt, std::nullopt, 2, 85}, Case{0, 0, 2, 85}}) {
        for (const auto& [key, value] :
             {std::pair{"pollingInterval", c.interval}, {"overheatThreshold", c.threshold}}) {
            value ? defaults.setNumber(key, *value) : defaults.removeValue(key);
        }
        launch();
        EXPECT_EQ(model->pollingInterval(), c.loadedInterval);
        EXPECT_EQ(model->overheatThreshold(), c.loadedThreshold);
    }
    defaults.setInteger("supervisedFanTestProtocolVersion", 2);
    EXPECT_FALSE(launch().supervisedTestPassed());

    model->setPollingInterval(0.2);
    model->setOverheatThreshold(30);
    EXPECT_EQ(defaults.number("overheatThreshold"), 30);
    EXPECT_EQ(defaults.number("pollingInterval"), 2) << "the interval is persisted by restartPolling only";
    model->restartPolling();
    EXPECT_EQ(defaults.number("pollingInterval"), 0.2);
}

TEST_F(AppModelTest, ticksDuringAnOutstandingReadCauseExactlyOneExtraPoll) {
    launch();
    ASSERT_EQ(telemetry->readCount, 1);
    main.advance(2000);
    model->poll();
    EXPECT_EQ(telemetry->readCount, 1);
    feed(snapshot(50, 50));
    EXPECT_EQ(telemetry->readCount, 2);
    feed(snapshot(50, 50));
    EXPECT_EQ(telemetry->readCount, 2);
    EXPECT_TRUE(telemetry->reads.empty());
}

TEST_F(AppModelTest, staleTelemetryToleratesOneFailureThenHandsBackAndRecovers) {
    controlling();

    const auto incomplete =
        std::make_exception_ptr(std::runtime_error("Fan telemetry is incomplete (1 of 2 fans)"));
    feed(incomplete);
    EXPECT_EQ(model->lastError(), "Fan telemetry is incomplete (1 of 2 fans)");
    EXPECT_EQ(model->fanControlTemperatures().size(), 2u);
    EXPECT_TRUE(fanIsManual(0));

    pollAndFeed(incomplete);
    EXPECT_TRUE(model->fanControlTemperatures().empty());
    EXPECT_FALSE(model->displayTemperature());
    EXPECT_FALSE(model->lastTemperatureSampleDate());
    EXPECT_FALSE(fanIsManual(0));
    EXPECT_FALSE(engine->activeSession());
    EXPECT_EQ(model->activePreset().name, "Quiet");
    EXPECT_EQ(
        logs.messagesContaining("smart control disengaged: Thermal or fan telemetry became stale").size(),
        1u);

    pollAndFeed(snapshot(60, 60));
    EXPECT_FALSE(model->lastError());
    EXPECT_TRUE(fanIsManual(0)) << "the kept selection comes back through the restore path";
}

TEST_F(AppModelTest, historyKeepsSensorSeriesAlignedWithSamples) {
    launch();
    for (int poll = 0; poll < 10; ++poll) {
        pollAndFeed(snapshot(50, 52));
    }
    auto appearing = snapshot(51, 53);
    appearing.readings = {{"Tp01", "P-core 1", 51}, {"Tx99", "New", 44.5}};
    pollAndFeed(appearing);

    ASSERT_EQ(model->history().size(), 11u);
    const auto& series = model->sensorHistory();
    ASSERT_EQ(series.at("Tx99").size(), 11u);
    EXPECT_TRUE(std::all_of(series.at("Tx99").begin(), series.at("Tx99").end() - 1,
                            [](float value) { return std::isnan(value); }));
    EXPECT_EQ(series.at("Tx99").back(), 44.5f);
    EXPECT_TRUE(std::isnan(series.at("Tg0f").back())) << "a sensor missing from one poll gets NaN";
    EXPECT_EQ(series.at("Tg0f").size(), 11u);
    EXPECT_EQ(model->history().back().rpms.size(), 2u);

    auto fanless = snapshot(50, 50);
    fanless.fans.clear();
    pollAndFeed(fanless);
    EXPECT_EQ(model->fans().size(), 2u) << "an empty fan list keeps the previous fans";
    EXPECT_EQ(model->history().size(), 11u) << "a snapshot without fans adds no sample";
    EXPECT_EQ(series.at("Tp01").size(), 11u);

    auto zoneless = snapshot(50, 50);
    zoneless.average->fanZoneReadings.clear();
    zoneless.average->temperature = 60;
    zoneless.average->gpuAverageTemperature = 70;
    pollAndFeed(zoneless);
    EXPECT_EQ(model->controlTemperature(), 70);
}

TEST_F(AppModelTest, overheatAlertsRespectTheCooldownAndNeedAnEstablishedDisplay) {
    defaults.setBool("overheatAlertsEnabled", true);
    launch();
    std::vector<Property> changes;
    model->addObserver([&](Property property) { changes.push_back(property); });

    pollAndFeed(snapshot(60, 60, 85));
    pollAndFeed(snapshot(60, 60, 85));
    EXPECT_TRUE(notifications.bodies.empty()) << "no alert before the display pipeline is established";
    pollAndFeed(snapshot(60, 60, 85));
    ASSERT_EQ(notifications.bodies.size(), 1u);
    EXPECT_EQ(notifications.bodies[0], "CPU/GPU thermal signal reached 85.0 °C (threshold 85 °C).");

    clock.advance(240000);
    pollAndFeed(snapshot(60, 60, 90));
    EXPECT_EQ(notifications.bodies.size(), 1u);
    clock.advance(60000);
    pollAndFeed(snapshot(60, 60, 90));
    EXPECT_EQ(notifications.bodies.size(), 2u);
    EXPECT_NE(std::find(changes.begin(), changes.end(), Property::history), changes.end());

    model->sendTestNotification();
    settle();
    EXPECT_EQ(notifications.bodies.back(), "Test notification — overheat alerts use this channel.");
    notifications.grant = false;
    model->setOverheatAlertsEnabled(true);
    settle();
    EXPECT_EQ(model->lastError(),
              "Notifications are off for Quorvane; enable them in your desktop's notification settings.");
    EXPECT_TRUE(model->overheatAlertsEnabled());
}

} // namespace
} // namespace quorvane::testing
