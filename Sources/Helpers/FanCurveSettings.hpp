#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace quorvane {

// One fan's curve: the ramp start, the full-speed temperature and, for the constant strategy, its RPM.
struct FanCurveSettings {
    double lowTemperature = 0;
    double highTemperature = 0;
    std::optional<std::int64_t> constantRPM{};

    friend bool operator==(const FanCurveSettings&, const FanCurveSettings&) = default;

    // Keys "lowTemperature", "highTemperature" and, when present, "constantRPM". Encoding throws
    // PresetLibraryError for a temperature that JSON cannot represent.
    nlohmann::json toJSON() const;
    // Throws PresetLibraryError naming `path` when the object does not have the expected shape.
    static FanCurveSettings fromJSON(const nlohmann::json& object, const std::string& path);
};

} // namespace quorvane
