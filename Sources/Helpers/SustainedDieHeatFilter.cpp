#include "Helpers/SustainedDieHeatFilter.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorvane {

SustainedDieHeatFilter::SustainedDieHeatFilter(double risingAlpha, double fallingAlpha, int missTolerance)
    : risingAlpha_(risingAlpha), fallingAlpha_(fallingAlpha), missTolerance_(missTolerance) {
    recentSamples_.reserve(windowSize + 1);
}

std::optional<double> SustainedDieHeatFilter::update(double sample) {
    if (!std::isfinite(sample)) {
        return value_;
    }
    consecutiveMisses_ = 0;
    recentSamples_.push_back(sample);
    if (recentSamples_.size() > windowSize) {
        recentSamples_.erase(recentSamples_.begin());
    }
    if (recentSamples_.size() < windowSize) {
        return std::nullopt;
    }
    std::array<double, windowSize> sorted{};
    std::copy(recentSamples_.begin(), recentSamples_.end(), sorted.begin());
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[1];
    if (!value_) {
        value_ = median;
    } else {
        *value_ += (median - *value_) * (median > *value_ ? risingAlpha_ : fallingAlpha_);
    }
    return value_;
}

std::optional<double> SustainedDieHeatFilter::noteMissingSample() {
    ++consecutiveMisses_;
    if (consecutiveMisses_ >= missTolerance_) {
        reset();
    }
    return value_;
}

void SustainedDieHeatFilter::reset() {
    value_.reset();
    recentSamples_.clear();
    consecutiveMisses_ = 0;
}

} // namespace quorvane
