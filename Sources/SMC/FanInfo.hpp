#pragma once

#include "SMC/FanMode.hpp"

#include <cstdint>
#include <optional>

namespace quorvane {

struct FanInfo {
    int index = 0;
    std::int64_t actualRPM = 0;
    std::int64_t minRPM = 0;
    std::int64_t maxRPM = 0;
    FanMode mode = FanMode::automatic;
    // Absent when the target key could not be read.
    std::optional<std::int64_t> targetRPM;

    friend bool operator==(const FanInfo&, const FanInfo&) = default;
};

} // namespace quorvane
