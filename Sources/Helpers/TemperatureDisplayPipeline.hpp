#pragma once

#include "Helpers/SustainedDieHeatFilter.hpp"
#include "Helpers/ThermalDisplaySmoother.hpp"

#include <optional>

namespace quorvane {

// The temperature shown to the user: single-sample spikes are rejected first, then the result is
// smoothed, quick to show heat and slow to show relief.
class TemperatureDisplayPipeline {
public:
    TemperatureDisplayPipeline();

    // The first finite sample is shown as it is; after that only the spike filter's output moves
    // the value. A non-finite sample changes nothing.
    std::optional<double> update(double sample);
    // True once the spike filter has accepted a value.
    bool isEstablished() const { return spikeFilter_.value().has_value(); }
    void reset();

    std::optional<double> value() const { return value_; }
    const SustainedDieHeatFilter& spikeFilter() const { return spikeFilter_; }
    const ThermalDisplaySmoother& smoother() const { return smoother_; }

private:
    std::optional<double> value_;
    SustainedDieHeatFilter spikeFilter_;
    ThermalDisplaySmoother smoother_;
};

} // namespace quorvane
