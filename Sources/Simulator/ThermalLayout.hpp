#pragma once

#include "SMC/SMCKey.hpp"
#include "Simulator/SMCProfile.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// How every temperature key of a machine follows its thermal network. Each "flt" T key becomes a
// channel that reads its profile value at idle and moves with a mix of network nodes: die channels
// reach a per-key hot reading when their nodes reach the die reference temperature, board and
// chassis channels move by a gain, placeholders and sentinels never move, and the two hotspots sit
// above the core channels they summarise.
class ThermalLayout {
public:
    // The five SoC clusters and the heatsink halves under the left and right fans.
    enum Node : std::size_t {
        efficiency,
        performanceA,
        performanceB,
        gpuA,
        gpuB,
        leftSink,
        rightSink,
        nodeCount
    };
    using Weights = std::array<double, nodeCount>;

    enum class Rule { constant, die, linear, cpuHotspot, gpuHotspot };

    // The clusters the status and the tests summarise.
    enum class Group {
        efficiencyCores,
        performanceBankA,
        performanceBankB,
        gpuBankA,
        gpuBankB,
        cpuHotspot,
        gpuHotspot,
        leftChassis,
        rightChassis
    };

    struct Channel {
        SMCKey key;
        std::string name;
        Rule rule = Rule::constant;
        float baseline = 0;
        Weights weights{};
        // Die channels: the reading when the nodes they follow reach dieReferenceCelsius.
        double hotCelsius = 0;
        // Linear channels: degrees per degree of their node mix.
        double gain = 0;
        // Standard deviation of the reading's noise.
        double noise = 0;
        std::optional<Group> group;
    };

    static ThermalLayout of(const SMCProfile& profile);

    const std::vector<Channel>& channels() const { return channels_; }
    std::optional<std::size_t> indexOf(SMCKey key) const;
    // Whether a channel of the group takes part in the CPU or GPU hotspot.
    static bool isCPUCore(Group group);
    static bool isGPUCluster(Group group);
    static std::string groupName(Group group);
    static std::vector<Group> allGroups();

    static constexpr double dieReferenceCelsius = 100.0;

private:
    std::vector<Channel> channels_;
};

} // namespace quorvane
