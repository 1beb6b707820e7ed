#pragma once

#include <cstdint>
#include <functional>

namespace quorvane {

// Where the engine's asynchronous work runs: resets after a disconnect or an expired lease go to the
// control queue behind any running operation; the lease watchdog ticks on its own timer.
class EngineScheduler {
public:
    virtual ~EngineScheduler() = default;
    // Runs the task later, one at a time, in posting order.
    virtual void post(std::function<void()> task) = 0;
    // Calls tick every period, first after one period; replaces any earlier timer.
    virtual void startRepeating(std::int64_t periodMilliseconds, std::function<void()> tick) = 0;
    // Cancels the timer and finishes or drops pending tasks; nothing runs after it returns.
    virtual void stop() = 0;
};

} // namespace quorvane
