#pragma once

#include "Helpers/FanCurveManager.hpp"
#include "Helpers/PresetSelectionStore.hpp"
#include "Support/AppModelHarness.hpp"
#include "Support/PresetFixtures.hpp"

#include <gtest/gtest.h>

namespace quorvane::testing {

// An app model over a real helper engine on the simulated Mac15,11 (see AppModelHarness).
class AppModelTest : public ::testing::Test, public AppModelHarness {
protected:
    // The real poller on the same firmware instead of scripted telemetry.
    AppModel& launchPolling() {
        return launch(std::make_unique<TelemetryPollerSource>(
            std::make_unique<TelemetryPoller>(firmware.makeUserClient(false), registration, main)));
    }
    // A launched model driving both fans with the preset after one poll at 60 °C.
    void controlling(const FanPreset& preset = curvePreset()) {
        launch();
        feed(snapshot(60, 60));
        activate(preset);
        ASSERT_TRUE(fanIsManual(0) && fanIsManual(1));
    }
    // A user preset in the library, remembered as the selection of the last run.
    FanPreset remembered() {
        const auto quiet = curvePreset();
        FanCurveManager(defaults).saveCustomPresets({quiet});
        PresetSelectionStore(defaults).save(quiet);
        return quiet;
    }
};

} // namespace quorvane::testing
