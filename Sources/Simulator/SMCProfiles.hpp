#pragma once

#include "Simulator/SMCProfile.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace quorvane {

// The machines the simulator can be.
class SMCProfiles {
public:
    SMCProfiles() = delete;

    // 14-inch MacBook Pro, M3 Max: the verified topology the sensor catalogue was built from.
    // Two fans that the system holds until "Ftst" unlocks them. About 2,800 keys.
    static SMCProfile mac15_11();
    // 16-inch MacBook Pro, M2 Max: two fans whose mode writes latch at once, and a temperature
    // layout the catalogue does not know (cores as "Tp"/"Te" keys, no "Tf" banks). About 1,500 keys.
    static SMCProfile mac14_6();
    // MacBook Air, M2: no fans at all. About 1,400 keys.
    static SMCProfile mac14_2();

    static std::vector<SMCProfile> all();
    // By command-line name, e.g. "Mac15,11"; nullopt for an unknown name.
    static std::optional<SMCProfile> named(std::string_view name);
};

} // namespace quorvane
