#pragma once

#include "App/AppModel.hpp"
#include "PrivilegedHelper/HelperControlEngine.hpp"
#include "SMC/SMCKey.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Support/AppModelHarness.hpp"
#include "Support/FakeProcessTable.hpp"
#include "Support/ManualEngineScheduler.hpp"
#include "Support/ScriptedSnapshot.hpp"
#include "UI/AppModelAdapter.hpp"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>

namespace quorvane::testing {

// The machine under a view test: the simulated Mac and a helper engine on which the supervised test
// has passed, its files in a temporary folder.
struct ViewTestMachine {
    explicit ViewTestMachine(const char* profile) : firmware(*SMCProfiles::named(profile), clock) {
        paths.controlLock = std::filesystem::path(directory.path().toStdString()) / "fan-control.lock";
        paths.controlLockOwnerUID = std::nullopt;
        paths.capabilityMarker = std::filesystem::path(directory.path().toStdString()) / "capability";
        std::ofstream(paths.capabilityMarker) << "protocol=1\n";
        firmware.setAutomaticTarget(0, 1800);
        firmware.setAutomaticTarget(1, 1900);
        clock.advance(20000);
        firmware.advanceToNow();
        engine = std::make_unique<HelperControlEngine>(firmware.makeUserClient(), clock, processes, scheduler,
                                                       paths);
    }

    QTemporaryDir directory;
    VirtualClock clock;
    SimulatedAppleSMC firmware;
    FakeProcessTable processes;
    ManualEngineScheduler scheduler;
    HelperEnginePaths paths;
    std::unique_ptr<HelperControlEngine> engine;
};

// An app model for views: the machine above, the model's test harness (helper approved, scripted
// telemetry, manual executors on the virtual clock) and the adapter the views listen to. settle()
// runs the model's work and then the Qt events it caused.
class ViewModelFixture : public ViewTestMachine, public AppModelHarness {
public:
    explicit ViewModelFixture(const char* profile = "Mac15,11")
        : ViewTestMachine(profile), AppModelHarness(clock) {}
    ~ViewModelFixture() {
        adapter.reset();
        model.reset();
        settle();
        engine.reset();
    }

    // Builds and starts the model and its adapter.
    AppModel& launch() {
        startModel(*engine, processes);
        adapter = std::make_unique<AppModelAdapter>(*model);
        model->start();
        settle();
        return *model;
    }

    // Runs the model's tasks and the helper's answers until nothing is left, then the Qt events.
    void settle() {
        runModelWork();
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
        answerRead(std::move(result));
        settle();
    }
    // One poll later by the clock, so history and filters see time pass.
    void nextPoll(double left, double right, double hottest = 60) {
        clock.advance(2000);
        pollAndFeed(snapshot(left, right, hottest));
    }

    std::unique_ptr<AppModelAdapter> adapter;
};

} // namespace quorvane::testing
