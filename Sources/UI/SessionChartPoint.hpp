#pragma once

#include <chrono>

namespace quorvane {

// One value of a session chart series at the time of its history sample.
struct SessionChartPoint {
    std::chrono::system_clock::time_point date;
    double value = 0;

    friend bool operator==(const SessionChartPoint&, const SessionChartPoint&) = default;
};

} // namespace quorvane
