#pragma once

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <vector>

namespace quorvane::HistoryRetention {

// Trims the oldest samples, and the same number of values from every sensor series, once the history
// exceeds `limit`. Removing at least `batchSize` at a time keeps the arrays from shifting every poll.
// `SeriesMap` maps a sensor key to a vector aligned with `samples`; a series that runs short becomes
// empty but keeps its key.
template <typename Sample, typename SeriesMap>
void trim(std::vector<Sample>& samples, SeriesMap& sensorSeries, std::size_t limit, std::size_t batchSize) {
    if (limit < 1 || batchSize < 1) {
        throw std::invalid_argument("HistoryRetention::trim needs a limit and a batch size of at least 1");
    }
    if (samples.size() <= limit) {
        return;
    }
    const std::size_t remove = std::min(std::max(samples.size() - limit, batchSize), samples.size());
    samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(remove));
    for (auto& [key, series] : sensorSeries) {
        if (series.size() <= remove) {
            series.clear();
        } else {
            series.erase(series.begin(), series.begin() + static_cast<std::ptrdiff_t>(remove));
        }
    }
}

} // namespace quorvane::HistoryRetention
