#include "Helpers/CriticalThermalOverride.hpp"

#include <cmath>

namespace quorvane {

bool CriticalThermalOverride::update(double temperature, double now) {
    if (!std::isfinite(temperature)) {
        return isActive_;
    }
    if (temperature >= engageTemperature) {
        isActive_ = true;
        releaseSince_.reset();
        return true;
    }
    if (!isActive_) {
        return false;
    }
    if (temperature >= releaseTemperature) {
        // Still in the warning band: the cool-down has to start over.
        releaseSince_.reset();
        return true;
    }
    if (!releaseSince_) {
        releaseSince_ = now;
        return true;
    }
    if (now - *releaseSince_ >= releaseHold) {
        reset();
        return false;
    }
    return true;
}

void CriticalThermalOverride::reset() {
    isActive_ = false;
    releaseSince_.reset();
}

} // namespace quorvane
