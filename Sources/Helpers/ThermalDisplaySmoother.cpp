#include "Helpers/ThermalDisplaySmoother.hpp"

#include <cmath>

namespace quorvane {

ThermalDisplaySmoother::ThermalDisplaySmoother(std::optional<double> initialValue, double risingAlpha,
                                               double fallingAlpha, double deadband)
    : value_(initialValue), risingAlpha_(risingAlpha), fallingAlpha_(fallingAlpha), deadband_(deadband) {}

double ThermalDisplaySmoother::update(double sample) {
    if (!std::isfinite(sample)) {
        return value_.value_or(sample);
    }
    if (!value_) {
        value_ = sample;
        return sample;
    }
    const double change = sample - *value_;
    if (std::fabs(change) <= deadband_) {
        return *value_;
    }
    *value_ += change * (change > 0 ? risingAlpha_ : fallingAlpha_);
    return *value_;
}

} // namespace quorvane
