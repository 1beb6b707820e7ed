#include "Helpers/ThermalControlFilter.hpp"

namespace quorvane {

ThermalControlFilter::ThermalControlFilter(std::optional<double> initialValue, double risingAlpha,
                                           double fallingAlpha, double deadband)
    : smoother_(initialValue, risingAlpha, fallingAlpha, deadband) {}

double ThermalControlFilter::update(double sample) {
    return smoother_.update(sample);
}

void ThermalControlFilter::reset() {
    smoother_.reset();
}

} // namespace quorvane
