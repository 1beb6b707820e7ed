#pragma once

#include "App/AppModel.hpp"
#include "PrivilegedHelper/EngineFixture.hpp"
#include "SMC/SMCKey.hpp"
#include "Support/AppModelHarness.hpp"
#include "Support/PresetFixtures.hpp"
#include "Support/ScriptedSnapshot.hpp"

#include <cmath>
#include <deque>

namespace quorvane::testing {

// An app model over a real helper engine on the simulated Mac15,11, on one manual main executor.
// Telemetry is scripted unless a test asks for the real poller on the same firmware.
class AppModelTest : public EngineFixture, public AppModelHarness {
protected:
    AppModelTest() : AppModelHarness(clock) {
        firmware.setAutomaticTarget(0, 1800);
        firmware.setAutomaticTarget(1, 1900);
        clock.advance(20000);
        firmware.advanceToNow();
    }
    ~AppModelTest() override {
        model.reset();
        settle();
    }

    void settle() { runModelWork(); }

    // Builds and starts the model; the helper engine must be running.
    AppModel& launch(bool realTelemetry = false) {
        std::unique_ptr<TelemetrySource> source;
        if (realTelemetry) {
            source = std::make_unique<TelemetryPollerSource>(
                std::make_unique<TelemetryPoller>(firmware.makeUserClient(false), registration, main));
        }
        startModel(*engine, processes, std::move(source));
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
        ASSERT_TRUE(answerRead(std::move(result))) << "the model asked for no read";
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
};

} // namespace quorvane::testing
