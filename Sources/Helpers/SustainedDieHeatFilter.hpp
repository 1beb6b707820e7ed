#pragma once

#include <optional>
#include <vector>

namespace quorvane {

// Rejects single-sample spikes by following the median of the last three samples, with its own
// smoothing. A short gap in the readings keeps the state; `missTolerance` misses in a row discard
// it, so stale heat is not carried across a long gap.
class SustainedDieHeatFilter {
public:
    SustainedDieHeatFilter(double risingAlpha, double fallingAlpha, int missTolerance);

    // Absent until three finite samples have arrived. A non-finite sample changes nothing and does
    // not count as a miss.
    std::optional<double> update(double sample);
    // The value after counting one missing sample.
    std::optional<double> noteMissingSample();
    void reset();

    std::optional<double> value() const { return value_; }
    const std::vector<double>& recentSamples() const { return recentSamples_; }
    int consecutiveMisses() const { return consecutiveMisses_; }
    double risingAlpha() const { return risingAlpha_; }
    double fallingAlpha() const { return fallingAlpha_; }
    int missTolerance() const { return missTolerance_; }

    static constexpr std::size_t windowSize = 3;

private:
    std::optional<double> value_;
    std::vector<double> recentSamples_;
    int consecutiveMisses_ = 0;
    double risingAlpha_;
    double fallingAlpha_;
    int missTolerance_;
};

} // namespace quorvane
