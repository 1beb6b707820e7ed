#include "Helpers/Clock.hpp"

#include <chrono>
#include <thread>

namespace quorvane {

std::int64_t SteadyClock::nowMilliseconds() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SteadyClock::sleepFor(std::int64_t milliseconds) {
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

SteadyClock& SteadyClock::shared() {
    static SteadyClock clock;
    return clock;
}

void VirtualClock::advance(std::int64_t milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    now_ += milliseconds;
    slept_ += milliseconds;
    ++sleeps_;
}

} // namespace quorvane
