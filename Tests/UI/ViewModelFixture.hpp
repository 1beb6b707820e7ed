#pragma once

#include "App/AppModel.hpp"
#include "Helpers/InMemoryDefaultsStore.hpp"
#include "PrivilegedHelper/HelperControlEngine.hpp"
#include "SMC/SMCKey.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Support/AppFakes.hpp"
#include "Support/FakeDaemonRegistration.hpp"
#include "Support/FakeProcessTable.hpp"
#include "Support/InProcessHelperTransport.hpp"
#include "Support/ManualEngineScheduler.hpp"
#include "Support/ManualExecutor.hpp"
#include "Support/ScriptedSnapshot.hpp"
#include "UI/AppModelAdapter.hpp"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>

namespace quorvane::testing {

// An app model for views: a real helper engine on the simulated Mac15,11 (supervised test passed,
// helper approved), scripted telemetry, everything on manual executors and a virtual clock, and the
// adapter the views listen to. settle() runs the model's work and then the Qt events it caused.
class ViewModelFixture {
public:
    explicit ViewModelFixture(const char* profile = "Mac15,11")
        : firmware(*SMCProfiles::named(profile), clock), main(clock), replies(clock) {
        paths.controlLock = std::filesystem::path(directory.path().toStdString()) / "fan-control.lock";
        paths.controlLockOwnerUID = std::nullopt;
        paths.capabilityMarker = std::filesystem::path(directory.path().toStdString()) / "capability";
        std::ofstream(paths.capabilityMarker) << "protocol=1\n";
        registration.currentStatus = 1;
        defaults.setInteger("supervisedFanTestProtocolVersion", 1);
        firmware.setAutomaticTarget(0, 1800);
        firmware.setAutomaticTarget(1, 1900);
        clock.advance(20000);
        firmware.advanceToNow();
        engine = std::make_unique<HelperControlEngine>(firmware.makeUserClient(), clock, processes, scheduler,
                                                       paths);
        helperProcess.emplace(*engine, replies);
    }
    ~ViewModelFixture() {
        adapter.reset();
        model.reset();
        settle();
        engine.reset();
    }

    // Builds and starts the model and its adapter.
    AppModel& launch() {
        model = std::make_unique<AppModel>(AppModel::Services{
            .helperClient =
                std::make_unique<HelperClient>(helperProcess->factory(), registration, main, main),
            .telemetry = std::make_unique<ScriptedTelemetry>(telemetry),
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
        adapter = std::make_unique<AppModelAdapter>(*model);
        model->start();
        settle();
        return *model;
    }

    // Runs the model's tasks and the helper's answers until nothing is left, then the Qt events.
    void settle() {
        while (main.runPending() + replies.runPending() > 0) {
        }
        QCoreApplication::processEvents();
        if (adapter) {
            adapter->flush();
        }
        // Views replace rows with deleteLater(); a test looking for widgets must not find the old ones.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The fans as the firmware has them now, and zone temperatures chosen by the test.
    TelemetrySnapshot snapshot(double left, double right, double hottest = 60) {
        return scriptedSnapshot(firmware, left, right, hottest);
    }

    // Polls when no read is outstanding, answers it, and runs everything that follows.
    void pollAndFeed(TelemetrySource::Result result) {
        if (telemetry->reads.empty()) {
            model->poll();
        }
        auto read = std::move(telemetry->reads.front());
        telemetry->reads.pop_front();
        read(std::move(result));
        settle();
    }
    // One poll later by the clock, so history and filters see time pass.
    void nextPoll(double left, double right, double hottest = 60) {
        clock.advance(2000);
        pollAndFeed(snapshot(left, right, hottest));
    }

    QTemporaryDir directory;
    VirtualClock clock;
    SimulatedAppleSMC firmware;
    FakeProcessTable processes;
    ManualEngineScheduler scheduler;
    HelperEnginePaths paths;
    std::unique_ptr<HelperControlEngine> engine;
    ManualExecutor main;
    ManualExecutor replies;
    std::optional<InProcessHelper> helperProcess;
    std::string modelIdentifier = "Mac15,11";
    int loginItemsOpened = 0;
    InMemoryDefaultsStore defaults;
    FakeDaemonRegistration registration;
    FakeNotificationCenter notifications;
    FakePowerMonitor power;
    FakeLaunchAtLogin launchAtLogin;
    std::shared_ptr<ScriptedTelemetry::State> telemetry = std::make_shared<ScriptedTelemetry::State>();
    std::unique_ptr<AppModel> model;
    std::unique_ptr<AppModelAdapter> adapter;
};

} // namespace quorvane::testing
