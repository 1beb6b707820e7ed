#include "Simulator/SystemFanCurve.hpp"

#include <algorithm>

namespace quorvane {

std::optional<double> SystemFanCurve::update(double hottestCelsius) {
    if (running_ && hottestCelsius < settings_.stopCelsius) {
        running_ = false;
    } else if (!running_ && hottestCelsius >= settings_.startCelsius) {
        running_ = true;
    }
    if (!running_) {
        return std::nullopt;
    }
    const double span = settings_.fullCelsius - settings_.startCelsius;
    return std::clamp((hottestCelsius - settings_.startCelsius) / span, 0.0, 1.0);
}

double SystemFanCurve::rpmFor(std::optional<double> share, double minimumRPM, double maximumRPM) {
    if (!share) {
        return 0.0;
    }
    return minimumRPM + (maximumRPM - minimumRPM) * *share;
}

} // namespace quorvane
