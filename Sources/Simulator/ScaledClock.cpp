#include "Simulator/ScaledClock.hpp"

#include <cmath>
#include <stdexcept>

namespace quorvane {

ScaledClock::ScaledClock(double factor, Clock& base)
    : base_(base), factor_(factor), baseOrigin_(base.nowMilliseconds()) {
    if (!std::isfinite(factor) || factor < 0) {
        throw std::invalid_argument("the speed factor must be a finite number, 0 or more");
    }
}

std::int64_t ScaledClock::nowMilliseconds() const {
    const double scaled = static_cast<double>(base_.nowMilliseconds() - baseOrigin_) * factor_;
    return static_cast<std::int64_t>(std::floor(scaled)) + stepped_.load(std::memory_order_acquire);
}

void ScaledClock::sleepFor(std::int64_t milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    if (factor_ == 0) {
        advance(milliseconds);
        return;
    }
    base_.sleepFor(static_cast<std::int64_t>(std::ceil(static_cast<double>(milliseconds) / factor_)));
}

void ScaledClock::advance(std::int64_t milliseconds) {
    if (milliseconds > 0) {
        stepped_.fetch_add(milliseconds, std::memory_order_acq_rel);
    }
}

} // namespace quorvane
