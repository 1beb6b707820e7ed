#pragma once

#include "Helpers/SensorReading.hpp"
#include "SMC/FanInfo.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// What the running app shows, as scripts read it from the session bus.
struct AppInstanceState {
    std::string title;
    std::optional<double> displayTemperature;
    std::optional<double> controlTemperature;
    // Per fan index, the temperature its curve follows.
    std::map<int, double> zoneTemperatures;
    // Power, voltage and current channels with their labels and units.
    std::vector<SensorReading> electricalReadings;
    std::vector<FanInfo> fans;
    std::string activePreset;
    // The picker's preset names, built-ins first.
    std::vector<std::string> presets;
    std::string helperState;
    bool supervisedTestPassed = false;
    // "quorvane" or "anotherApp".
    std::string owner;
    // Empty when there is none.
    std::string error;
    bool criticalOverride = false;

    friend bool operator==(const AppInstanceState&, const AppInstanceState&) = default;
};

} // namespace quorvane
