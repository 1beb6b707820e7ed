#pragma once

#include "Helpers/Clock.hpp"

#include <chrono>
#include <cstdint>
#include <optional>

namespace quorvane {

// One log line per interval for a repeated event, however often it happens: a flood must not push
// the lines that matter (the SMC-write audit) past the journal's rate limit. Not thread-safe.
class LogRateLimiter {
public:
    LogRateLimiter(const Clock& clock, std::chrono::milliseconds interval)
        : clock_(clock), interval_(interval) {}

    // The number of events held back since the last line when this one is to be logged; none when
    // it is held back too.
    std::optional<std::uint64_t> permit();

private:
    const Clock& clock_;
    std::chrono::milliseconds interval_;
    std::optional<std::int64_t> lastLine_;
    std::uint64_t heldBack_ = 0;
};

} // namespace quorvane
