#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace quorvane {

// One entry of the session history; sensor series are kept beside it, aligned by index.
struct HistorySample {
    std::chrono::system_clock::time_point date;
    double cpuTemp = 0;
    double cpuCoreAverage = 0;
    std::optional<double> gpuCoreAverage;
    double controlTemp = 0;
    // Actual RPM of each fan, ordered by fan index.
    std::vector<std::int64_t> rpms;

    friend bool operator==(const HistorySample&, const HistorySample&) = default;
};

} // namespace quorvane
