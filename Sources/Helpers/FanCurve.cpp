#include "Helpers/FanCurve.hpp"

#include "Helpers/PresetJSONReader.hpp"

#include <algorithm>
#include <cmath>

namespace quorvane {

std::int64_t FanCurve::rpm(double temperature) const {
    return interpolate(temperature, minTemp, maxTemp, minRPM, maxRPM);
}

std::int64_t FanCurve::interpolate(double temperature, double low, double high, std::int64_t minRPM,
                                   std::int64_t maxRPM) {
    if (temperature <= low) {
        return minRPM;
    }
    if (temperature >= high || !(low < high) || std::isnan(temperature)) {
        return maxRPM;
    }
    double fraction = (temperature - low) / (high - low);
    double value =
        fraction * (static_cast<double>(maxRPM) - static_cast<double>(minRPM)) + static_cast<double>(minRPM);
    if (!std::isfinite(value)) {
        // Only infinite bounds get here; cooling harder is the safe answer.
        return maxRPM;
    }
    // Round inside the line's own range; 9.2e18 keeps the conversion clear of int64's undefined edge.
    auto lower = std::min(minRPM, maxRPM);
    auto upper = std::max(minRPM, maxRPM);
    double lo = std::clamp(static_cast<double>(lower), -9.2e18, 9.2e18);
    double hi = std::clamp(static_cast<double>(upper), -9.2e18, 9.2e18);
    value = std::round(std::clamp(value, lo, hi));
    return std::clamp(static_cast<std::int64_t>(value), lower, upper);
}

nlohmann::json FanCurve::toJSON() const {
    return {{"minTemp", encodableNumber(minTemp, "minTemp")},
            {"maxTemp", encodableNumber(maxTemp, "maxTemp")},
            {"minRPM", minRPM},
            {"maxRPM", maxRPM}};
}

FanCurve FanCurve::fromJSON(const nlohmann::json& object, const std::string& path) {
    PresetJSONReader reader(object, path);
    return {reader.requiredNumber("minTemp"), reader.requiredNumber("maxTemp"),
            reader.requiredInteger("minRPM"), reader.requiredInteger("maxRPM")};
}

} // namespace quorvane
