#include "Helpers/CPUCoreAverage.hpp"

#include <algorithm>

namespace quorvane {

double CPUCoreAverage::thermalDisplayTemperature() const {
    double hottest = cpuMaximumTemperature;
    for (const auto& candidate : {gpuMaximumTemperature, hotspotTemperature, gpuHotspotTemperature}) {
        if (candidate) {
            hottest = std::max(hottest, *candidate);
        }
    }
    return hottest;
}

double CPUCoreAverage::controlTemperature() const {
    if (!fanZoneReadings.empty()) {
        double warmest = fanZoneReadings.front().temperature;
        for (const auto& zone : fanZoneReadings) {
            warmest = std::max(warmest, zone.temperature);
        }
        return warmest;
    }
    return gpuAverageTemperature ? std::max(temperature, *gpuAverageTemperature) : temperature;
}

} // namespace quorvane
