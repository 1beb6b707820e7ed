#include "Helpers/SmartAutoDecision.hpp"

#include "Helpers/SmartAutoCurve.hpp"

#include <algorithm>

namespace quorvane {

std::int64_t SmartAutoDecision::targetRPM(double zoneTemperature,
                                          std::optional<double> sustainedDieTemperature,
                                          bool criticalOverrideActive, std::int64_t minimum,
                                          std::int64_t maximum) {
    if (criticalOverrideActive) {
        return maximum;
    }
    const std::int64_t zone = SmartAutoCurve::rpm(zoneTemperature, minimum, maximum);
    if (!sustainedDieTemperature) {
        return zone;
    }
    return std::max(zone, SmartAutoCurve::dieFloorRPM(*sustainedDieTemperature, minimum, maximum));
}

bool SmartAutoDecision::floorDrivesDecision(double zoneTemperature,
                                            std::optional<double> sustainedDieTemperature,
                                            std::int64_t minimum, std::int64_t maximum) {
    return sustainedDieTemperature &&
           SmartAutoCurve::rpm(zoneTemperature, minimum, maximum) <
               SmartAutoCurve::dieFloorRPM(*sustainedDieTemperature, minimum, maximum);
}

std::optional<double>
SmartAutoDecision::effectiveSustainedDieTemperature(std::optional<double> sustainedDieTemperature,
                                                    bool boosting) {
    if (boosting && sustainedDieTemperature) {
        return SmartAutoCurve::nextDieFloorTierTemperature(*sustainedDieTemperature);
    }
    return sustainedDieTemperature;
}

bool SmartAutoDecision::needsReassertion(std::int64_t commanded, std::optional<std::int64_t> readback) {
    if (!readback) {
        return false;
    }
    const std::int64_t difference = *readback > commanded ? *readback - commanded : commanded - *readback;
    return difference >= readbackToleranceRPM;
}

} // namespace quorvane
