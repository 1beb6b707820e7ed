#pragma once

#include <cstdint>
#include <optional>

namespace quorvane {

// One fan's slow step-down under Smart Auto: after demand drops the fan holds for a delay, then
// falls by at most one step, then holds again. Times are seconds on the caller's steady clock.
class SmartAutoRampDownState {
public:
    explicit SmartAutoRampDownState(std::optional<double> coolingSince = std::nullopt)
        : coolingSince_(coolingSince) {}

    // The target to command now. A desired target at or above the commanded one applies at once
    // and cancels any hold.
    std::int64_t nextTarget(std::int64_t desired, std::int64_t commanded, double now, double delay,
                            std::int64_t maximumStep);

    std::optional<double> coolingSince() const { return coolingSince_; }

private:
    std::optional<double> coolingSince_;
};

} // namespace quorvane
