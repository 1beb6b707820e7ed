#pragma once

#include <cstdint>
#include <optional>

namespace quorvane {

// A linear curve that follows rising temperatures at once but only steps down after the temperature
// has fallen by the hysteresis band below the point of its last change.
class HysteresisCurve {
public:
    // A negative or NaN hysteresis is stored as 0.
    HysteresisCurve(double lowTemperature, double highTemperature, double hysteresis);

    // The caller guarantees minimum <= maximum.
    std::int64_t target(double temperature, std::int64_t minimum, std::int64_t maximum);

    double lowTemperature() const { return lowTemperature_; }
    double highTemperature() const { return highTemperature_; }
    double hysteresis() const { return hysteresis_; }
    std::optional<double> lastTemperature() const { return lastTemperature_; }
    std::optional<std::int64_t> lastRPM() const { return lastRPM_; }

private:
    double lowTemperature_;
    double highTemperature_;
    double hysteresis_;
    std::optional<double> lastTemperature_;
    std::optional<std::int64_t> lastRPM_;
};

} // namespace quorvane
