#pragma once

#include "App/AppModel.hpp"
#include "Helpers/InMemoryDefaultsStore.hpp"
#include "PrivilegedHelper/HelperControlEngine.hpp"
#include "Support/AppFakes.hpp"
#include "Support/FakeDaemonRegistration.hpp"
#include "Support/InProcessHelperTransport.hpp"
#include "Support/ManualExecutor.hpp"

#include <memory>
#include <optional>
#include <string>

namespace quorvane::testing {

// What an app model runs on in tests: manual executors on the virtual clock, fakes for every
// platform service (helper approved, supervised test passed), scripted telemetry, and the helper
// engine reached in process. Fixtures add the machine and the engine.
class AppModelHarness {
public:
    explicit AppModelHarness(VirtualClock& clock) : main(clock), replies(clock), clock_(clock) {
        registration.currentStatus = 1;
        defaults.setInteger("supervisedFanTestProtocolVersion", 1);
    }

    // Builds and starts the model over `engine`; telemetry is scripted unless a source is given.
    AppModel& startModel(HelperControlEngine& engine, ProcessTable& processes,
                         std::unique_ptr<TelemetrySource> source = nullptr) {
        helperProcess.emplace(engine, replies);
        model = std::make_unique<AppModel>(AppModel::Services{
            .helperClient =
                std::make_unique<HelperClient>(helperProcess->factory(), registration, main, main),
            .telemetry = source ? std::move(source) : std::make_unique<ScriptedTelemetry>(telemetry),
            .defaults = defaults,
            .mainExecutor = main,
            .scanExecutor = main,
            .processes = processes,
            .notifications = notifications,
            .powerMonitor = power,
            .launchAtLogin = launchAtLogin,
            .clock = clock_,
            .wallClock =
                [this] { return AppModel::Date(std::chrono::milliseconds(clock_.nowMilliseconds())); },
            .hardwareModelIdentifier = modelIdentifier,
            .openLoginItems =
                [this] {
                    ++loginItemsOpened;
                }});
        return *model;
    }

    // Runs the main executor and the helper's answers until nothing is left to do.
    void runModelWork() {
        while (main.runPending() + replies.runPending() > 0) {
        }
    }

    // Answers the oldest outstanding read; false when the model asked for none.
    bool answerRead(TelemetrySource::Result result) {
        if (telemetry->reads.empty()) {
            return false;
        }
        auto read = std::move(telemetry->reads.front());
        telemetry->reads.pop_front();
        read(std::move(result));
        return true;
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

private:
    VirtualClock& clock_;
};

} // namespace quorvane::testing
