#pragma once

#include <cstdint>
#include <optional>

namespace quorvane {

// How Smart Auto turns one fan's temperatures into a target. Minimum and maximum are the fan's
// hardware limits; the caller guarantees minimum <= maximum.
class SmartAutoDecision {
public:
    SmartAutoDecision() = delete;

    // Maximum under the critical override; otherwise the zone curve, raised to the die-heat floor
    // when a sustained die temperature is known.
    static std::int64_t targetRPM(double zoneTemperature, std::optional<double> sustainedDieTemperature,
                                  bool criticalOverrideActive, std::int64_t minimum, std::int64_t maximum);
    // Whether the die-heat floor, not the zone curve, sets the target.
    static bool floorDrivesDecision(double zoneTemperature, std::optional<double> sustainedDieTemperature,
                                    std::int64_t minimum, std::int64_t maximum);
    // While boosting, the die is treated as already at its next floor tier.
    static std::optional<double>
    effectiveSustainedDieTemperature(std::optional<double> sustainedDieTemperature, bool boosting);
    // Whether the fan's read-back target is far enough from the commanded one to send it again.
    static bool needsReassertion(std::int64_t commanded, std::optional<std::int64_t> readback);

    static constexpr std::int64_t readbackToleranceRPM = 50;
};

} // namespace quorvane
