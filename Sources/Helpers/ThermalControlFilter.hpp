#pragma once

#include "Helpers/ThermalDisplaySmoother.hpp"

#include <optional>

namespace quorvane {

// The display smoother's algorithm as a type of its own, so a control input can never be confused
// with a display value.
class ThermalControlFilter {
public:
    ThermalControlFilter(std::optional<double> initialValue, double risingAlpha, double fallingAlpha,
                         double deadband);

    double update(double sample);
    void reset();

    std::optional<double> value() const { return smoother_.value(); }
    double risingAlpha() const { return smoother_.risingAlpha(); }
    double fallingAlpha() const { return smoother_.fallingAlpha(); }
    double deadband() const { return smoother_.deadband(); }

private:
    ThermalDisplaySmoother smoother_;
};

} // namespace quorvane
