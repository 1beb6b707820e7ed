#pragma once

#include <string>

namespace quorvane {

// One plausible channel as the sensor list shows it: a temperature in °C, or a power, voltage or
// current reading in W, V or A.
struct SensorReading {
    std::string keyName;
    std::string displayName;
    double value = 0;
    std::string unit = "°C";

    friend bool operator==(const SensorReading&, const SensorReading&) = default;
};

} // namespace quorvane
