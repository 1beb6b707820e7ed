#pragma once

#include <functional>

namespace quorvane {

// Sleep and wake of the machine. Handlers may be called on any thread.
class PowerMonitor {
public:
    virtual ~PowerMonitor() = default;
    virtual void start(std::function<void()> willSleep, std::function<void()> didWake) = 0;
};

} // namespace quorvane
