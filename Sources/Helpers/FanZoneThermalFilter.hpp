#pragma once

#include <optional>

namespace quorvane {

// Control input of one fan: follows a rise at once, but lowers the value only after a drop has
// lasted `coolingHold` seconds, so a brief lull does not let the fan spin down. Times are seconds
// on the caller's steady clock.
class FanZoneThermalFilter {
public:
    FanZoneThermalFilter(std::optional<double> initialValue, double risingAlpha, double fallingAlpha,
                         double deadband, double coolingThreshold, double coolingHold);

    // The new output. A non-finite sample changes nothing and returns the current value, or the
    // sample itself while there is none.
    double update(double sample, double now);
    void reset();

    std::optional<double> value() const { return value_; }
    std::optional<double> coolingSince() const { return coolingSince_; }
    double risingAlpha() const { return risingAlpha_; }
    double fallingAlpha() const { return fallingAlpha_; }
    double deadband() const { return deadband_; }
    double coolingThreshold() const { return coolingThreshold_; }
    double coolingHold() const { return coolingHold_; }

private:
    std::optional<double> value_;
    std::optional<double> coolingSince_;
    double risingAlpha_;
    double fallingAlpha_;
    double deadband_;
    double coolingThreshold_;
    double coolingHold_;
};

} // namespace quorvane
