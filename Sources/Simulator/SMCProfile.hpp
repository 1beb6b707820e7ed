#pragma once

#include "Simulator/FanTimings.hpp"
#include "Simulator/SimulatedKey.hpp"

#include <string>
#include <vector>

namespace quorvane {

// Everything that makes one simulated machine: its identity, its key table and its fan behaviour.
struct SMCProfile {
    // The name the simulator's command line takes, e.g. "Mac15,11".
    std::string name;
    std::string modelIdentifier;
    std::string description;
    // Whether the temperature layout matches the catalogue the sensor code was built from.
    bool verifiedTopology = false;
    // In any order; the firmware sorts them.
    std::vector<SimulatedKey> keys;
    FanTimings fanTimings;
};

} // namespace quorvane
