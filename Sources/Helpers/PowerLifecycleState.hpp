#pragma once

#include <cstdint>

namespace quorvane {

// Sleep and wake bump a generation so telemetry that was started before them can be recognised
// and dropped when it finally answers.
class PowerLifecycleState {
public:
    void willSleep() {
        isSleeping_ = true;
        ++generation_;
    }
    void didWake() {
        isSleeping_ = false;
        ++generation_;
    }
    void invalidatePendingPolls() { ++generation_; }

    // A result is usable only if nothing happened since it was started and the machine is awake.
    bool accepts(std::uint64_t generation) const { return generation == generation_ && !isSleeping_; }

    bool isSleeping() const { return isSleeping_; }
    // Unsigned, so it wraps around instead of overflowing.
    std::uint64_t generation() const { return generation_; }

private:
    bool isSleeping_ = false;
    std::uint64_t generation_ = 0;
};

} // namespace quorvane
