#pragma once

#include <optional>
#include <string_view>

namespace quorvane {

// How a custom preset picks its target: a curve over the processor temperature, or one fixed speed.
enum class ControlStrategy { cpuCoreAverage, constantRPM };

constexpr std::string_view rawValue(ControlStrategy strategy) {
    switch (strategy) {
    case ControlStrategy::cpuCoreAverage:
        return "cpuCoreAverage";
    case ControlStrategy::constantRPM:
        return "constantRPM";
    }
    return "cpuCoreAverage";
}

constexpr std::optional<ControlStrategy> controlStrategyFromRaw(std::string_view raw) {
    for (auto strategy : {ControlStrategy::cpuCoreAverage, ControlStrategy::constantRPM}) {
        if (rawValue(strategy) == raw) {
            return strategy;
        }
    }
    return std::nullopt;
}

} // namespace quorvane
