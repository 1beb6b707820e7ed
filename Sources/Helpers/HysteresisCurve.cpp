#include "Helpers/HysteresisCurve.hpp"

#include "Helpers/FanCurve.hpp"

#include <algorithm>
#include <cmath>

namespace quorvane {

HysteresisCurve::HysteresisCurve(double lowTemperature, double highTemperature, double hysteresis)
    : lowTemperature_(lowTemperature), highTemperature_(highTemperature),
      hysteresis_(std::isnan(hysteresis) || hysteresis < 0 ? 0 : hysteresis) {}

std::int64_t HysteresisCurve::target(double temperature, std::int64_t minimum, std::int64_t maximum) {
    if (lastTemperature_ && lastRPM_ && temperature < *lastTemperature_ &&
        *lastTemperature_ - temperature < hysteresis_) {
        // Holding: the reference stays where the curve last moved.
        return std::clamp(*lastRPM_, minimum, maximum);
    }
    auto rpm =
        std::clamp(FanCurve::interpolate(temperature, lowTemperature_, highTemperature_, minimum, maximum),
                   minimum, maximum);
    lastTemperature_ = temperature;
    lastRPM_ = rpm;
    return rpm;
}

} // namespace quorvane
