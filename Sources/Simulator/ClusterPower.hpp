#pragma once

#include <array>

namespace quorvane {

// Heat the SoC's clusters put out, in watts. Bank A sits on the left of the package, bank B on
// the right.
struct ClusterPower {
    double efficiency = 0;
    double performanceA = 0;
    double performanceB = 0;
    double gpuA = 0;
    double gpuB = 0;

    static constexpr std::size_t clusterCount = 5;

    double cpu() const { return efficiency + performanceA + performanceB; }
    double gpu() const { return gpuA + gpuB; }
    double total() const { return cpu() + gpu(); }

    std::array<double, clusterCount> values() const {
        return {efficiency, performanceA, performanceB, gpuA, gpuB};
    }

    // The straight line from `from` (share 0) to `to` (share 1).
    static ClusterPower between(const ClusterPower& from, const ClusterPower& to, double share) {
        const auto mix = [share](double a, double b) {
            return a + (b - a) * share;
        };
        return {mix(from.efficiency, to.efficiency), mix(from.performanceA, to.performanceA),
                mix(from.performanceB, to.performanceB), mix(from.gpuA, to.gpuA), mix(from.gpuB, to.gpuB)};
    }

    friend bool operator==(const ClusterPower&, const ClusterPower&) = default;
};

} // namespace quorvane
