#pragma once

#include "Simulator/Workload.hpp"

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvane {

// Scripted timelines: a JSON file of steps, each a built-in workload or explicit cluster power
// (optionally ramping to another) for a number of seconds.
//
//   {"name": "warm-up", "repeat": false, "steps": [
//     {"seconds": 30, "workload": "idle"},
//     {"seconds": 60, "power": {"performanceA": 20, "performanceB": 20}, "rampTo": {"performanceA": 30}},
//     {"seconds": 120, "workload": "gpu-heavy"}]}
//
// Power fields are efficiency, performanceA, performanceB, gpuA and gpuB in watts; a field left
// out takes the idle power. Errors name the file and the place: line and column for syntax, the
// JSON pointer of the offending value otherwise.
class WorkloadScript {
public:
    // Throws SimulatorError.
    static Workload load(const std::filesystem::path& path);
    // `source` names the text in messages and is the name when the script gives none.
    static Workload parse(std::string_view text, const std::string& source);
    // Whether a workload argument names a file rather than a built-in workload.
    static bool isPath(std::string_view name);

    static constexpr double maxClusterWatts = 200.0;
};

} // namespace quorvane
