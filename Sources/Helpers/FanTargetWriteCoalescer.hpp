#pragma once

#include <cstdint>
#include <map>
#include <optional>

namespace quorvane {

// Keeps at most one target write per fan in flight to the helper; targets asked for meanwhile fold
// into a single pending write holding the newest value.
class FanTargetWriteCoalescer {
public:
    // The target to write now, or absent when it was queued behind the write in flight.
    std::optional<std::int64_t> request(int fan, std::int64_t target);
    // Call when the helper answers; returns the next target to write now, or absent. A failed write
    // also drops the pending target: the control loop computes a fresh one on its next tick.
    std::optional<std::int64_t> complete(int fan, bool succeeded);
    // The newest target of the fan, whether still queued or being written.
    std::optional<std::int64_t> latestTarget(int fan) const;
    void reset();

    const std::map<int, std::int64_t>& inFlight() const { return inFlight_; }
    const std::map<int, std::int64_t>& pending() const { return pending_; }

private:
    std::map<int, std::int64_t> inFlight_;
    std::map<int, std::int64_t> pending_;
};

} // namespace quorvane
