#pragma once

#include "Helpers/FanZoneReading.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// One poll's composite thermal reading: processor and graphics averages and maxima, the die
// hotspots and, on the verified topology, the per-fan zone temperatures.
struct CPUCoreAverage {
    double temperature = 0;
    std::vector<std::string> contributingKeys;
    double cpuMaximumTemperature = 0;
    std::optional<double> efficiencyAverageTemperature;
    std::optional<double> efficiencyMaximumTemperature;
    std::optional<double> performanceAverageTemperature;
    std::optional<double> performanceMaximumTemperature;
    std::optional<double> hotspotTemperature;
    std::optional<double> gpuAverageTemperature;
    std::optional<double> gpuMaximumTemperature;
    std::vector<std::string> gpuContributingKeys;
    std::optional<double> gpuHotspotTemperature;
    std::vector<FanZoneReading> fanZoneReadings;
    bool hasValidatedFanZoneTopology = false;

    // The hottest die figure: what the user sees and what can trip the critical override.
    double thermalDisplayTemperature() const;
    // The warmest fan zone, or the larger of the processor and graphics averages without zones.
    double controlTemperature() const;

    friend bool operator==(const CPUCoreAverage&, const CPUCoreAverage&) = default;
};

} // namespace quorvane
