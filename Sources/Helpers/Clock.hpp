#pragma once

#include <cstdint>

namespace quorvane {

// A monotonic clock in milliseconds. Everything that waits or ages takes one, so tests can run
// ten-second latch deadlines in no real time at all.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMilliseconds() const = 0;
    virtual void sleepFor(std::int64_t milliseconds) = 0;
};

// The process's steady clock; sleeps block the calling thread.
class SteadyClock final : public Clock {
public:
    std::int64_t nowMilliseconds() const override;
    void sleepFor(std::int64_t milliseconds) override;

    // The process-wide instance production code uses by default.
    static SteadyClock& shared();
};

// A clock that only moves when told; a sleep advances it at once.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::int64_t startMilliseconds = 0) : now_(startMilliseconds) {}

    std::int64_t nowMilliseconds() const override { return now_; }
    void sleepFor(std::int64_t milliseconds) override { advance(milliseconds); }

    void advance(std::int64_t milliseconds);
    std::int64_t totalSlept() const { return slept_; }
    int sleepCount() const { return sleeps_; }

private:
    std::int64_t now_;
    std::int64_t slept_ = 0;
    int sleeps_ = 0;
};

} // namespace quorvane
