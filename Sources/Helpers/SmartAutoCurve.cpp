#include "Helpers/SmartAutoCurve.hpp"

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

constexpr bool tiersMatchPoints() {
    for (std::size_t i = 0; i < SmartAutoCurve::tiers.size(); ++i) {
        if (SmartAutoCurve::tiers[i] != SmartAutoCurve::points[i].temperature) {
            return false;
        }
    }
    return true;
}
static_assert(tiersMatchPoints());

double piecewise(std::span<const SmartAutoCurve::Point> curve, double temperature) {
    if (std::isnan(temperature)) {
        return 1.0;
    }
    if (temperature <= curve.front().temperature) {
        return curve.front().fraction;
    }
    if (temperature >= curve.back().temperature) {
        return curve.back().fraction;
    }
    const auto upper = std::find_if(curve.begin(), curve.end(),
                                    [&](const auto& point) { return point.temperature >= temperature; });
    const auto lower = std::prev(upper);
    return lower->fraction + (temperature - lower->temperature) / (upper->temperature - lower->temperature) *
                                 (upper->fraction - lower->fraction);
}

std::int64_t rpmFromFraction(double fraction, std::int64_t minimum, std::int64_t maximum) {
    const double rpm = fraction * static_cast<double>(maximum - minimum) + static_cast<double>(minimum);
    return std::clamp(static_cast<std::int64_t>(std::llround(rpm)), minimum, maximum);
}

double nextAbove(std::span<const double> temperatures, double temperature) {
    const auto next = std::find_if(temperatures.begin(), temperatures.end(),
                                   [&](double tier) { return tier > temperature; });
    return next == temperatures.end() ? temperatures.back() : *next;
}

} // namespace

double SmartAutoCurve::fraction(double temperature) {
    return piecewise(points, temperature);
}

std::int64_t SmartAutoCurve::rpm(double temperature, std::int64_t minimum, std::int64_t maximum) {
    return rpmFromFraction(fraction(temperature), minimum, maximum);
}

double SmartAutoCurve::dieFloorFraction(double sustainedDieTemperature) {
    return piecewise(dieFloorPoints, sustainedDieTemperature);
}

std::int64_t SmartAutoCurve::dieFloorRPM(double sustainedDieTemperature, std::int64_t minimum,
                                         std::int64_t maximum) {
    return rpmFromFraction(dieFloorFraction(sustainedDieTemperature), minimum, maximum);
}

int SmartAutoCurve::tier(double temperature) {
    return static_cast<int>(
        std::count_if(tiers.begin(), tiers.end(), [&](double tier) { return tier <= temperature; }));
}

double SmartAutoCurve::nextTierTemperature(double temperature) {
    return nextAbove(tiers, temperature);
}

double SmartAutoCurve::nextDieFloorTierTemperature(double temperature) {
    std::array<double, dieFloorPoints.size()> temperatures{};
    std::transform(dieFloorPoints.begin(), dieFloorPoints.end(), temperatures.begin(),
                   [](const Point& point) { return point.temperature; });
    return nextAbove(temperatures, temperature);
}

bool SmartAutoCurve::isBoosting(std::span<const DieSample> samples) {
    if (samples.size() < 3) {
        return false;
    }
    const auto last = samples.last(3);
    for (std::size_t i = 1; i < last.size(); ++i) {
        const double interval = last[i].timestamp - last[i - 1].timestamp;
        if (!(interval > 0)) {
            return false;
        }
        // Written so that a rate that is not a number never counts as heating.
        const double rate = (last[i].temperature - last[i - 1].temperature) / interval;
        if (!(rate > boostRatePerSecond)) {
            return false;
        }
    }
    return true;
}

} // namespace quorvane
