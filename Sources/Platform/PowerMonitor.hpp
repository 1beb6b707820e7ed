#pragma once

#include <functional>

namespace quorvane {

// Sleep and wake of the machine. Handlers may be called on any thread.
class PowerMonitor {
public:
    virtual ~PowerMonitor() = default;
    virtual void start(std::function<void()> willSleep, std::function<void()> didWake) = 0;
    // While the app controls the fans, sleep waits for them (as long as the system allows): willSleep
    // starts the hand-back, and the session ending lets sleep go on. After wake, an active session
    // holds sleep back again. Any thread; before start() it is remembered.
    virtual void setControlActive(bool active) = 0;
};

} // namespace quorvane
