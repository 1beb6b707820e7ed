#pragma once

#include <optional>

namespace quorvane {

// Exponential smoothing that may follow rises and falls at different speeds and ignores jitter
// within a deadband.
class ThermalDisplaySmoother {
public:
    ThermalDisplaySmoother(std::optional<double> initialValue, double risingAlpha, double fallingAlpha,
                           double deadband);

    // The new output. A non-finite sample changes nothing and returns the current value, or the
    // sample itself while there is none.
    double update(double sample);
    void reset() { value_.reset(); }

    std::optional<double> value() const { return value_; }
    double risingAlpha() const { return risingAlpha_; }
    double fallingAlpha() const { return fallingAlpha_; }
    double deadband() const { return deadband_; }

private:
    std::optional<double> value_;
    double risingAlpha_;
    double fallingAlpha_;
    double deadband_;
};

} // namespace quorvane
