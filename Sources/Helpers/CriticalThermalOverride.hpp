#pragma once

#include <optional>

namespace quorvane {

// Safety latch on the hottest raw die temperature: forces maximum cooling at 105 °C and lets go only
// after the die has stayed below 100 °C for 15 seconds. Times are seconds on the caller's steady
// clock.
class CriticalThermalOverride {
public:
    // Whether the override is active after this sample. A non-finite sample changes nothing.
    bool update(double temperature, double now);
    void reset();

    bool isActive() const { return isActive_; }
    std::optional<double> releaseSince() const { return releaseSince_; }

    static constexpr double engageTemperature = 105.0;
    static constexpr double releaseTemperature = 100.0;
    static constexpr double releaseHold = 15.0;

private:
    bool isActive_ = false;
    std::optional<double> releaseSince_;
};

} // namespace quorvane
