#pragma once

#include <string>

namespace quorvane {

// One plausible temperature channel as the sensor list shows it.
struct SensorReading {
    std::string keyName;
    std::string displayName;
    double value = 0;
    std::string unit = "°C";

    friend bool operator==(const SensorReading&, const SensorReading&) = default;
};

} // namespace quorvane
