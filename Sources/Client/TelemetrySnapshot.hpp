#pragma once

#include "Client/HelperInstallState.hpp"
#include "Helpers/CPUCoreAverage.hpp"
#include "Helpers/SensorReading.hpp"
#include "SMC/FanInfo.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// One poll: every probed fan, the composite reading, every plausible channel and the helper state.
struct TelemetrySnapshot {
    std::vector<FanInfo> fans;
    // Absent where the machine's channels cannot form it (usual on a real Mac's hwmon driver, which
    // may list no CPU or GPU keys); compositeUnavailable then says what is missing.
    std::optional<CPUCoreAverage> average;
    std::optional<std::string> compositeUnavailable;
    std::vector<SensorReading> readings;
    // Power, voltage and current; never part of any temperature.
    std::vector<SensorReading> electricalReadings;
    HelperInstallState helperState = HelperInstallState::unknown;
};

} // namespace quorvane
