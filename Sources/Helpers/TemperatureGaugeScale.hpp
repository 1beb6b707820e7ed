#pragma once

namespace quorvane {

// Maps a temperature onto a gauge's fill.
class TemperatureGaugeScale {
public:
    TemperatureGaugeScale() = delete;

    // 0 at or below the lower bound, 1 at or above the upper bound, linear between; an empty gauge
    // for a temperature that is not a number.
    static double fraction(double temperature);

    static constexpr double lowerBound = 30.0;
    static constexpr double upperBound = 105.0;
};

} // namespace quorvane
