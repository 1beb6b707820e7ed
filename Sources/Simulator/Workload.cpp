#include "Simulator/Workload.hpp"

#include "Simulator/SimulatorError.hpp"

#include <algorithm>
#include <stdexcept>

namespace quorvane {

namespace {

// M3 Max magnitudes: a few watts at rest, about 60 W for every CPU core busy, about 40 W for a
// busy GPU. Runaway asks for more than the cooling can carry away even at full fan speed.
constexpr ClusterPower idle{0.6, 0.25, 0.2, 0.35, 0.35};
constexpr ClusterPower light{1.2, 2.0, 1.0, 1.0, 0.8};
constexpr ClusterPower allCores{4.0, 27.0, 27.0, 1.0, 1.0};
constexpr ClusterPower gpuHeavy{1.5, 3.0, 3.0, 19.0, 19.0};
constexpr ClusterPower burst{4.0, 24.0, 24.0, 3.0, 3.0};
constexpr ClusterPower runaway{6.0, 32.0, 32.0, 24.0, 24.0};

Workload constant(std::string name, ClusterPower power) {
    return Workload(std::move(name), {{1000, power, power}}, false);
}

} // namespace

Workload::Workload(std::string name, std::vector<Segment> segments, bool repeats)
    : name_(std::move(name)), segments_(std::move(segments)), repeats_(repeats) {
    if (segments_.empty()) {
        throw std::invalid_argument("a workload needs at least one segment");
    }
    for (const auto& segment : segments_) {
        if (segment.durationMilliseconds < 1) {
            throw std::invalid_argument("workload segments last at least 1 ms");
        }
        duration_ += segment.durationMilliseconds;
    }
}

ClusterPower Workload::powerAt(std::int64_t elapsedMilliseconds) const {
    if (elapsedMilliseconds <= 0) {
        return segments_.front().from;
    }
    if (elapsedMilliseconds >= duration_) {
        if (!repeats_) {
            return segments_.back().to;
        }
        elapsedMilliseconds %= duration_;
    }
    for (const auto& segment : segments_) {
        if (elapsedMilliseconds < segment.durationMilliseconds) {
            const double share =
                static_cast<double>(elapsedMilliseconds) / static_cast<double>(segment.durationMilliseconds);
            return ClusterPower::between(segment.from, segment.to, share);
        }
        elapsedMilliseconds -= segment.durationMilliseconds;
    }
    return segments_.back().to;
}

std::vector<Workload::Segment> Workload::firstSegments(std::int64_t milliseconds) const {
    std::vector<Segment> result;
    std::int64_t remaining = milliseconds;
    while (remaining > 0) {
        for (const auto& segment : segments_) {
            if (remaining <= 0) {
                break;
            }
            if (segment.durationMilliseconds <= remaining) {
                result.push_back(segment);
            } else {
                const double share =
                    static_cast<double>(remaining) / static_cast<double>(segment.durationMilliseconds);
                result.push_back(
                    {remaining, segment.from, ClusterPower::between(segment.from, segment.to, share)});
            }
            remaining -= std::min(remaining, segment.durationMilliseconds);
        }
        if (!repeats_ && remaining > 0) {
            result.push_back({remaining, segments_.back().to, segments_.back().to});
            remaining = 0;
        }
    }
    return result;
}

std::vector<std::string> Workload::builtInNames() {
    return {"idle", "light", "steady", "gpu-heavy", "bursty", "runaway"};
}

Workload Workload::named(std::string_view name) {
    if (name == "idle") {
        return constant("idle", idle);
    }
    if (name == "light") {
        return constant("light", light);
    }
    if (name == "steady") {
        return constant("steady", allCores);
    }
    if (name == "gpu-heavy") {
        return constant("gpu-heavy", gpuHeavy);
    }
    if (name == "bursty") {
        return Workload(
            "bursty",
            {{2000, light, burst}, {10000, burst, burst}, {2000, burst, light}, {26000, light, light}}, true);
    }
    if (name == "runaway") {
        return Workload("runaway", {{90000, light, runaway}, {1000, runaway, runaway}}, false);
    }
    std::string known;
    for (const auto& builtIn : builtInNames()) {
        known += (known.empty() ? "" : ", ") + builtIn;
    }
    throw SimulatorError("Unknown workload \"" + std::string(name) + "\"; known workloads: " + known +
                         ", or the path of a timeline file (.json)");
}

ClusterPower Workload::idlePower() {
    return idle;
}

} // namespace quorvane
