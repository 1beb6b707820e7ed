#pragma once

#include <cstdint>
#include <functional>

namespace quorvane {

// Somewhere to run work later, one task at a time, in posting order.
class Executor {
public:
    virtual ~Executor() = default;
    virtual void post(std::function<void()> task) = 0;
};

// The app's main thread: work and repeating timers. A timer's ticks are tasks on this executor.
class MainExecutor : public Executor {
public:
    using TimerID = std::uint64_t;
    // First tick one period from now. Returns an id for cancel().
    virtual TimerID scheduleRepeating(std::int64_t periodMilliseconds, std::function<void()> tick) = 0;
    // Cancelling an unknown or already cancelled timer does nothing.
    virtual void cancel(TimerID timer) = 0;
};

} // namespace quorvane
