#include "Helpers/FanZoneThermalFilter.hpp"

#include <cmath>

namespace quorvane {

FanZoneThermalFilter::FanZoneThermalFilter(std::optional<double> initialValue, double risingAlpha,
                                           double fallingAlpha, double deadband, double coolingThreshold,
                                           double coolingHold)
    : value_(initialValue), risingAlpha_(risingAlpha), fallingAlpha_(fallingAlpha), deadband_(deadband),
      coolingThreshold_(coolingThreshold), coolingHold_(coolingHold) {}

double FanZoneThermalFilter::update(double sample, double now) {
    if (!std::isfinite(sample)) {
        return value_.value_or(sample);
    }
    if (!value_) {
        value_ = sample;
        coolingSince_.reset();
        return sample;
    }
    const double change = sample - *value_;
    if (change >= -deadband_) {
        // A rise or a steady reading ends any hold; the next drop has to start it again.
        coolingSince_.reset();
        if (change > deadband_) {
            *value_ += change * risingAlpha_;
        }
        return *value_;
    }
    if (!coolingSince_) {
        // A drop smaller than the threshold never starts the hold.
        if (-change >= coolingThreshold_) {
            coolingSince_ = now;
        }
        return *value_;
    }
    if (now - *coolingSince_ >= coolingHold_) {
        // The hold stays set, so every further dropping sample keeps lowering the value.
        *value_ += change * fallingAlpha_;
    }
    return *value_;
}

void FanZoneThermalFilter::reset() {
    value_.reset();
    coolingSince_.reset();
}

} // namespace quorvane
