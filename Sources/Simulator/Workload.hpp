#pragma once

#include "Simulator/ClusterPower.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// What the simulated machine is asked to do: cluster power as a function of the time since the
// workload started, as a run of straight-line segments that either repeats or, once over, holds
// its last power.
class Workload {
public:
    struct Segment {
        std::int64_t durationMilliseconds = 0;
        ClusterPower from;
        ClusterPower to;
    };

    // Throws std::invalid_argument for no segments or a segment that is not at least 1 ms long.
    Workload(std::string name, std::vector<Segment> segments, bool repeats);

    const std::string& name() const { return name_; }
    const std::vector<Segment>& segments() const { return segments_; }
    bool repeats() const { return repeats_; }
    std::int64_t durationMilliseconds() const { return duration_; }

    // Negative times give the first segment's starting power.
    ClusterPower powerAt(std::int64_t elapsedMilliseconds) const;
    // The first `milliseconds` of this workload as segments, as a timeline step plays it.
    std::vector<Segment> firstSegments(std::int64_t milliseconds) const;

    // idle, light, steady (all cores), gpu-heavy, bursty, runaway.
    static std::vector<std::string> builtInNames();
    // Throws SimulatorError naming the known workloads.
    static Workload named(std::string_view name);
    // The clusters' power at rest, which a timeline step falls back on for clusters it leaves out.
    static ClusterPower idlePower();

private:
    std::string name_;
    std::vector<Segment> segments_;
    bool repeats_;
    std::int64_t duration_ = 0;
};

} // namespace quorvane
