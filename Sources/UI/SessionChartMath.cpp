#include "UI/SessionChartMath.hpp"

#include <algorithm>
#include <cmath>

namespace quorvane {

std::vector<SessionChartPoint> peakPreservingDownsample(const std::vector<SessionChartPoint>& points,
                                                        std::size_t maximumCount) {
    const std::size_t count = points.size();
    if (maximumCount < 4 || count <= maximumCount) {
        return points;
    }
    const std::size_t halves = maximumCount / 2;
    const std::size_t bucketSize = (count + halves - 1) / halves;

    std::vector<SessionChartPoint> result;
    result.reserve(maximumCount);
    for (std::size_t start = 0; start < count; start += bucketSize) {
        const std::size_t end = std::min(count, start + bucketSize);
        std::size_t lowest = start;
        std::size_t highest = start;
        for (std::size_t index = start + 1; index < end; ++index) {
            // Strict comparisons: the first of equal values wins.
            if (points[index].value < points[lowest].value) {
                lowest = index;
            }
            if (points[index].value > points[highest].value) {
                highest = index;
            }
        }
        const SessionChartPoint& low = points[lowest];
        const SessionChartPoint& high = points[highest];
        if (low.date == high.date) {
            result.push_back(low);
        } else if (low.date <= high.date) {
            result.push_back(low);
            result.push_back(high);
        } else {
            result.push_back(high);
            result.push_back(low);
        }
    }
    return result;
}

QString abbreviatedDuration(double seconds) {
    const long long whole = std::isfinite(seconds) && seconds > 0 ? static_cast<long long>(seconds) : 0;
    if (whole >= 3600) {
        return QStringLiteral("%1h %2m").arg(whole / 3600).arg((whole % 3600) / 60);
    }
    if (whole >= 60) {
        return QStringLiteral("%1m %2s").arg(whole / 60).arg(whole % 60);
    }
    return QStringLiteral("%1s").arg(whole);
}

QString timeAxisFormat(double spanSeconds) {
    return spanSeconds < 600 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
}

QString sessionDescription(const QString& name, const std::vector<SessionChartPoint>& points) {
    if (points.empty()) {
        return name + QStringLiteral(" · waiting for samples");
    }
    const std::chrono::duration<double> span = points.back().date - points.front().date;
    return QStringLiteral("%1 · %2 samples · %3")
        .arg(name)
        .arg(points.size())
        .arg(abbreviatedDuration(span.count()));
}

} // namespace quorvane
