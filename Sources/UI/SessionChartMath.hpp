#pragma once

#include "UI/SessionChartPoint.hpp"

#include <QString>
#include <cstddef>
#include <vector>

namespace quorvane {

// Thins a series to at most `maximumCount` points for drawing while keeping each bucket's lowest and
// highest value, so a one-sample spike is still visible in a twelve-hour chart. Fewer than four
// allowed points, or a series that already fits, come back unchanged.
std::vector<SessionChartPoint> peakPreservingDownsample(const std::vector<SessionChartPoint>& points,
                                                        std::size_t maximumCount);

// "name · N samples · 1h 5m", or "name · waiting for samples" while the series is empty.
QString sessionDescription(const QString& name, const std::vector<SessionChartPoint>& points);

// The span of a session, abbreviated: "1h 0m" from one hour on, "59m 59s" or "12s" below it.
QString abbreviatedDuration(double seconds);

// Time-axis labels with seconds while a session is short enough for them to differ.
QString timeAxisFormat(double spanSeconds);

} // namespace quorvane
