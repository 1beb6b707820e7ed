#pragma once

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
};

} // namespace quorvane::testing
