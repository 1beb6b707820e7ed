#include "Helpers/SmartAutoRampDownState.hpp"

#include <algorithm>

namespace quorvane {

std::int64_t SmartAutoRampDownState::nextTarget(std::int64_t desired, std::int64_t commanded, double now,
                                                double delay, std::int64_t maximumStep) {
    if (desired >= commanded) {
        coolingSince_.reset();
        return desired;
    }
    if (!coolingSince_) {
        coolingSince_ = now;
        return commanded;
    }
    if (now - *coolingSince_ >= delay) {
        // Each step restarts the hold, so the next one needs another full delay.
        coolingSince_ = now;
        return std::max(commanded - maximumStep, desired);
    }
    return commanded;
}

} // namespace quorvane
