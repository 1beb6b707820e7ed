#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace quorvane {

// The fixed curves of Smart Auto: fan-zone temperature to a fraction of the fan's RPM range, and
// sustained die heat to a floor under that, plus the tiers the predictive boost looks ahead to.
class SmartAutoCurve {
public:
    SmartAutoCurve() = delete;

    struct Point {
        double temperature;
        double fraction;
    };

    // One sustained die temperature and when it was taken, in seconds on a steady clock.
    struct DieSample {
        double timestamp;
        double temperature;
    };

    static constexpr std::array<Point, 5> points{{{55, 0.0}, {60, 0.35}, {75, 0.65}, {85, 0.85}, {90, 1.0}}};
    static constexpr std::array<double, 5> tiers{55, 60, 75, 85, 90};
    static constexpr std::array<Point, 5> dieFloorPoints{
        {{84, 0.0}, {88, 0.4}, {92, 0.62}, {96, 0.82}, {100, 1.0}}};
    static constexpr double boostRatePerSecond = 1.0;
    static constexpr double stepDownDelay = 30.0;
    static constexpr std::int64_t stepDownRPM = 500;

    // Piecewise linear on `points`, 0 below and 1 above. A temperature that is not a number asks
    // for full cooling.
    static double fraction(double temperature);
    static std::int64_t rpm(double temperature, std::int64_t minimum, std::int64_t maximum);
    // The same on `dieFloorPoints`.
    static double dieFloorFraction(double sustainedDieTemperature);
    static std::int64_t dieFloorRPM(double sustainedDieTemperature, std::int64_t minimum,
                                    std::int64_t maximum);

    // How many tiers lie at or below the temperature: 0 below 55 °C, 5 from 90 °C.
    static int tier(double temperature);
    // The first tier strictly above, or the top tier.
    static double nextTierTemperature(double temperature);
    static double nextDieFloorTierTemperature(double temperature);
    // True while the last three samples (oldest first) rose faster than `boostRatePerSecond` over
    // both intervals.
    static bool isBoosting(std::span<const DieSample> samples);
};

} // namespace quorvane
