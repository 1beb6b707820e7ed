#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace quorvane {

// A straight line from (minTemp, minRPM) to (maxTemp, maxRPM), flat outside it.
struct FanCurve {
    double minTemp = 0;
    double maxTemp = 0;
    std::int64_t minRPM = 0;
    std::int64_t maxRPM = 0;

    friend bool operator==(const FanCurve&, const FanCurve&) = default;

    std::int64_t rpm(double temperature) const;

    // The shared line: halves round away from zero; an empty or inverted range, a temperature that
    // is not a number, or a result that cannot be computed give maxRPM, the safe side.
    static std::int64_t interpolate(double temperature, double low, double high, std::int64_t minRPM,
                                    std::int64_t maxRPM);

    // Keys "minTemp", "maxTemp", "minRPM", "maxRPM".
    nlohmann::json toJSON() const;
    static FanCurve fromJSON(const nlohmann::json& object, const std::string& path);
};

} // namespace quorvane
