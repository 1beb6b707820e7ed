#pragma once

#include "Helpers/FanPreset.hpp"

#include <string>
#include <vector>

namespace quorvane::testing {

// A valid user curve preset with a fresh id.
inline FanPreset curvePreset(const std::string& name = "Quiet", double low = 40, double high = 80) {
    return {.id = UUID::generate(),
            .name = name,
            .kind = PresetKind::custom,
            .strategy = ControlStrategy::cpuCoreAverage,
            .lowTemperature = low,
            .highTemperature = high,
            .hysteresis = 2};
}

inline FanPreset constantPreset(std::optional<std::int64_t> rpm) {
    auto preset = curvePreset();
    preset.strategy = ControlStrategy::constantRPM;
    preset.constantRPM = rpm;
    return preset;
}

inline std::vector<std::string> names(const std::vector<FanPreset>& presets) {
    std::vector<std::string> result;
    for (const auto& preset : presets) {
        result.push_back(preset.name);
    }
    return result;
}

} // namespace quorvane::testing
