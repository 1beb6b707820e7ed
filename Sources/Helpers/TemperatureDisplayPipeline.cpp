#include "Helpers/TemperatureDisplayPipeline.hpp"

#include <cmath>

namespace quorvane {

// With both alphas at 1 the spike filter outputs the plain median of the last three samples.
TemperatureDisplayPipeline::TemperatureDisplayPipeline()
    : spikeFilter_(1.0, 1.0, 2), smoother_(std::nullopt, 0.65, 0.2, 0.25) {}

std::optional<double> TemperatureDisplayPipeline::update(double sample) {
    if (!std::isfinite(sample)) {
        return value_;
    }
    const auto median = spikeFilter_.update(sample);
    if (!median && value_) {
        return value_;
    }
    value_ = smoother_.update(median.value_or(sample));
    return value_;
}

void TemperatureDisplayPipeline::reset() {
    value_.reset();
    spikeFilter_.reset();
    smoother_.reset();
}

} // namespace quorvane
