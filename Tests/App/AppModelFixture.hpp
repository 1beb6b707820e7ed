#pragma once

#include "App/AppModel.hpp"
#include "Helpers/InMemoryDefaultsStore.hpp"
#include "PrivilegedHelper/EngineFixture.hpp"
#include "SMC/SMCKey.hpp"
#include "Support/AppFakes.hpp"
#include "Support/FakeDaemonRegistration.hpp"
#include "Support/InProcessHelperTransport.hpp"
#include "Support/ManualExecutor.hpp"
#include "Support/ScriptedSnapshot.hpp"

#include <cmath>
#include <deque>

namespace quorvane::testing {

// An app model over a real helper engine on the simulated Mac15,11, on one manual main executor.
// Telemetry is scripted unless a test asks for the real poller on the same firmware.
class AppModelTest : public EngineFixture {
protected:
    AppModelTest() : main(clock), replies(clock) {
        registration.currentStatus = 1;
        defaults.setInteger("supervisedFanTestProtocolVersion", 1);
        firmware.setAutomaticTarget(0, 1800);
        firmware.setAutomaticTarget(1, 1900);
        clock.advance(20000);
        firmware.advanceToNow();
    }
    ~AppModelTest() override {
        model.reset();
        settle();
    }

    // Runs the main executor and the helper's answers until nothing is left to do.
    void settle() {
        while (main.runPending() + replies.runPending() > 0) {
        }
    }

    // Builds and starts the model; the helper engine must be running.
    AppModel& launch(bool realTelemetry = false) {
        helperProcess.emplace(*engine, replies);
        std::unique_ptr<TelemetrySource> source = std::make_unique<ScriptedTelemetry>(telemetry);
        if (realTelemetry) {
            source = std::make_unique<TelemetryPollerSource>(
                std::make_unique<TelemetryPoller>(firmware.makeUserClient(false), registration, main));
        }
        model = std::make_unique<AppModel>(AppModel::Services{
            .helperClient =
                std::make_unique<HelperClient>(helperProcess->factory(), registration, main, main),
            .telemetry = std::move(source),
            .defaults = defaults,
            .mainExecutor = main,
            .scanExecutor = main,
            .processes = processes,
            .notifications = notifications,
            .powerMonitor = power,
            .launchAtLogin = launchAtLogin,
            .clock = clock,
            .wallClock =
                [this] { return AppModel::Date(std::chrono::milliseconds(clock.nowMilliseconds())); },
            .hardwareModelIdentifier = modelIdentifier,
            .openLoginItems =
                [this] {
                    ++loginItemsOpened;
                }});
        model->start();
        settle();
        return *model;
    }

    // The fans as the firmware has them now, and zone temperatures chosen by the test.
    TelemetrySnapshot snapshot(double left, double right, double hottest = 60) {
        return scriptedSnapshot(firmware, left, right, hottest);
    }

    // Answers the oldest outstanding read and runs everything that follows from it.
    void feed(TelemetrySource::Result result) {
        ASSERT_FALSE(telemetry->reads.empty()) << "the model asked for no read";
        auto read = std::move(telemetry->reads.front());
        telemetry->reads.pop_front();
        read(std::move(result));
        settle();
    }
    // Polls first when the model has no read outstanding.
    void pollAndFeed(TelemetrySource::Result result) {
        if (telemetry->reads.empty()) {
            model->poll();
        }
        feed(std::move(result));
    }
    void feedFailure(const std::string& text) { feed(std::make_exception_ptr(std::runtime_error(text))); }

    std::int64_t firmwareTarget(int fan) {
        firmware.advanceToNow();
        return std::lround(*firmware.floatValue(SMCKey::fromString("F" + std::to_string(fan) + "Tg")));
    }
    bool fanIsManual(int fan) { return byte(fan == 0 ? "F0Md" : "F1Md") == 1; }

    // A curve preset whose targets follow the zone temperature between 40 and 80 °C.
    static FanPreset curve(const std::string& name = "Quiet") {
        return {.id = UUID::generate(),
                .name = name,
                .strategy = ControlStrategy::cpuCoreAverage,
                .lowTemperature = 40,
                .highTemperature = 80,
                .hysteresis = 2};
    }

    ManualExecutor main;
    // Helper answers arrive here, so a test can hold them back.
    ManualExecutor replies;
    std::string modelIdentifier = "Mac15,11";
    int loginItemsOpened = 0;
    InMemoryDefaultsStore defaults;
    FakeDaemonRegistration registration;
    FakeNotificationCenter notifications;
    FakePowerMonitor power;
    FakeLaunchAtLogin launchAtLogin;
    std::shared_ptr<ScriptedTelemetry::State> telemetry = std::make_shared<ScriptedTelemetry::State>();
    std::optional<InProcessHelper> helperProcess;
    std::unique_ptr<AppModel> model;
};

} // namespace quorvane::testing
