#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// The control input of one fan on the verified topology: the compute temperature of the silicon
// nearest the fan, nudged toward the warmer side of the chassis.
struct FanZoneReading {
    int fanIndex = 0;
    std::string zoneName;
    double temperature = 0;
    std::string driver;
    // Unique and sorted ascending.
    std::vector<std::string> contributingKeys;
    double localComputeTemperature = 0;
    // Absent when fewer than two chassis channels of the side were valid.
    std::optional<double> localChassisTemperature;

    friend bool operator==(const FanZoneReading&, const FanZoneReading&) = default;
};

} // namespace quorvane
