#pragma once

#include <cstdint>

namespace quorvane {

// How a machine's firmware hands fan control over and how fast its fans move. Defaults follow what
// M3-class machines have been seen to do; tests shorten them.
struct FanTimings {
    // M3-class: the system holds the fans until "Ftst" is 1. False means mode writes latch at once.
    bool requiresUnlock = true;
    // From a written "Ftst" 1 until it reads back 1.
    std::int64_t ftstLatchMilliseconds = 1000;
    // From "Ftst" latching until mode writes stop being taken back (observed 3 to 6 s).
    std::int64_t modeUnlockMilliseconds = 4000;
    // From an accepted mode write until the mode byte reads the new value.
    std::int64_t modeApplyMilliseconds = 300;
    // From a written "Ftst" 0 until every fan is back in system mode.
    std::int64_t releaseMilliseconds = 3500;
    // How fast the actual speed follows the target.
    double slewRPMPerSecond = 1500.0;
};

} // namespace quorvane
