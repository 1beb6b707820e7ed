#pragma once

#include "Client/HelperInstallState.hpp"
#include "Helpers/CPUCoreAverage.hpp"
#include "Helpers/SensorReading.hpp"
#include "SMC/FanInfo.hpp"

#include <vector>

namespace quorvane {

// One poll: every probed fan, the composite reading, every plausible channel and the helper state.
struct TelemetrySnapshot {
    std::vector<FanInfo> fans;
    CPUCoreAverage average;
    std::vector<SensorReading> readings;
    HelperInstallState helperState = HelperInstallState::unknown;
};

} // namespace quorvane
