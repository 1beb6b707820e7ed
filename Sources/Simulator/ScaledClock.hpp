#pragma once

#include "Helpers/Clock.hpp"

#include <atomic>
#include <cstdint>

namespace quorvane {

// The simulated Mac's time: the base clock's progress since construction times a factor, plus any
// explicit steps. It starts at 0. With a factor of 0 it stands still and only advance() moves it,
// which is how in-process tests step a running server. Safe to read and step from any thread
// when the base clock is.
class ScaledClock final : public Clock {
public:
    // Throws std::invalid_argument for a negative or non-finite factor.
    explicit ScaledClock(double factor, Clock& base = SteadyClock::shared());

    std::int64_t nowMilliseconds() const override;
    // Waits the base-clock time that corresponds; a stopped clock is stepped instead.
    void sleepFor(std::int64_t milliseconds) override;

    void advance(std::int64_t milliseconds);
    double factor() const { return factor_; }

private:
    Clock& base_;
    double factor_;
    std::int64_t baseOrigin_;
    std::atomic<std::int64_t> stepped_{0};
};

} // namespace quorvane
