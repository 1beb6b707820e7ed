#include "Simulator/ThermalLayout.hpp"

#include "SMC/IOKitSMCBridge.hpp"

#include <algorithm>
#include <string_view>

namespace quorvane {

namespace {

using Group = ThermalLayout::Group;
using Rule = ThermalLayout::Rule;
using Weights = ThermalLayout::Weights;

Weights only(ThermalLayout::Node node) {
    Weights weights{};
    weights[node] = 1.0;
    return weights;
}

const Weights sinks = [] {
    Weights weights{};
    weights[ThermalLayout::leftSink] = 0.5;
    weights[ThermalLayout::rightSink] = 0.5;
    return weights;
}();

const Weights cpuDie = [] {
    Weights weights{};
    weights[ThermalLayout::efficiency] = 0.2;
    weights[ThermalLayout::performanceA] = 0.4;
    weights[ThermalLayout::performanceB] = 0.4;
    return weights;
}();

// A fixed value in [-1, 1] per key name, so sibling channels differ the same way on every run.
double jitter(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619u;
    }
    return static_cast<double>(hash % 2001) / 1000.0 - 1.0;
}

bool oddHash(std::string_view name) {
    return static_cast<int>((jitter(name) + 1.0) * 1000.0) % 2 == 1;
}

struct Catalogued {
    std::string_view name;
    Rule rule;
    ThermalLayout::Node node;
    double hotOrGain;
    Group group;
};

// The channels the sensor catalogue reads, placed on the M3 Max package: bank A and GPU bank A on
// the left, bank B and GPU bank B on the right.
// clang-format off
constexpr Catalogued catalogue[] = {
    {"Te05", Rule::die, ThermalLayout::efficiency, 96, Group::efficiencyCores},
    {"Te0L", Rule::die, ThermalLayout::efficiency, 96, Group::efficiencyCores},
    {"Te0P", Rule::die, ThermalLayout::efficiency, 96, Group::efficiencyCores},
    {"Te0S", Rule::die, ThermalLayout::efficiency, 96, Group::efficiencyCores},
    {"Tf04", Rule::die, ThermalLayout::performanceA, 100, Group::performanceBankA},
    {"Tf09", Rule::die, ThermalLayout::performanceA, 100, Group::performanceBankA},
    {"Tf0A", Rule::die, ThermalLayout::performanceA, 100, Group::performanceBankA},
    {"Tf0B", Rule::die, ThermalLayout::performanceA, 100, Group::performanceBankA},
    {"Tf0D", Rule::die, ThermalLayout::performanceA, 100, Group::performanceBankA},
    {"Tf0E", Rule::die, ThermalLayout::performanceA, 100, Group::performanceBankA},
    {"Tf44", Rule::die, ThermalLayout::performanceB, 100, Group::performanceBankB},
    {"Tf49", Rule::die, ThermalLayout::performanceB, 100, Group::performanceBankB},
    {"Tf4A", Rule::die, ThermalLayout::performanceB, 100, Group::performanceBankB},
    {"Tf4B", Rule::die, ThermalLayout::performanceB, 100, Group::performanceBankB},
    {"Tf4D", Rule::die, ThermalLayout::performanceB, 100, Group::performanceBankB},
    {"Tf4E", Rule::die, ThermalLayout::performanceB, 100, Group::performanceBankB},
    {"Tf14", Rule::die, ThermalLayout::gpuA, 98, Group::gpuBankA},
    {"Tf18", Rule::die, ThermalLayout::gpuA, 98, Group::gpuBankA},
    {"Tf19", Rule::die, ThermalLayout::gpuA, 98, Group::gpuBankA},
    {"Tf1A", Rule::die, ThermalLayout::gpuA, 98, Group::gpuBankA},
    {"Tf24", Rule::die, ThermalLayout::gpuB, 98, Group::gpuBankB},
    {"Tf28", Rule::die, ThermalLayout::gpuB, 98, Group::gpuBankB},
    {"Tf29", Rule::die, ThermalLayout::gpuB, 98, Group::gpuBankB},
    {"Tf2A", Rule::die, ThermalLayout::gpuB, 98, Group::gpuBankB},
    {"TCMz", Rule::cpuHotspot, ThermalLayout::performanceA, 0, Group::cpuHotspot},
    {"TRDX", Rule::gpuHotspot, ThermalLayout::gpuA, 0, Group::gpuHotspot},
    // Chassis: airflow and board edge warm most, the palm rest least.
    {"TaLP", Rule::linear, ThermalLayout::leftSink, 0.55, Group::leftChassis},
    {"TaLT", Rule::linear, ThermalLayout::leftSink, 0.35, Group::leftChassis},
    {"TaLW", Rule::linear, ThermalLayout::leftSink, 0.45, Group::leftChassis},
    {"TDeL", Rule::linear, ThermalLayout::leftSink, 0.50, Group::leftChassis},
    {"Ts0P", Rule::linear, ThermalLayout::leftSink, 0.30, Group::leftChassis},
    {"TaRF", Rule::linear, ThermalLayout::rightSink, 0.55, Group::rightChassis},
    {"TaRT", Rule::linear, ThermalLayout::rightSink, 0.35, Group::rightChassis},
    {"TaRW", Rule::linear, ThermalLayout::rightSink, 0.45, Group::rightChassis},
    {"TDeR", Rule::linear, ThermalLayout::rightSink, 0.50, Group::rightChassis},
    {"Ts1P", Rule::linear, ThermalLayout::rightSink, 0.30, Group::rightChassis},
};
// clang-format on

constexpr double dieNoise = 0.2;
constexpr double boardNoise = 0.04;

ThermalLayout::Channel die(Weights weights, double hot, std::optional<Group> group = std::nullopt) {
    ThermalLayout::Channel channel;
    channel.rule = Rule::die;
    channel.weights = weights;
    channel.hotCelsius = hot;
    channel.noise = dieNoise;
    channel.group = group;
    return channel;
}

ThermalLayout::Channel board(double gain) {
    ThermalLayout::Channel channel;
    channel.rule = Rule::linear;
    channel.weights = sinks;
    channel.gain = gain;
    channel.noise = gain > 0.25 ? boardNoise : boardNoise / 2;
    return channel;
}

bool startsWithAny(std::string_view name, std::initializer_list<std::string_view> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](std::string_view prefix) { return name.starts_with(prefix); });
}

// Keys the catalogue does not name keep the character of their family. Without catalogued cores,
// the core and GPU families stand in for the summarised groups.
ThermalLayout::Channel byFamily(std::string_view name, bool coresCatalogued) {
    const double j = jitter(name);
    const auto groupUnlessCatalogued = [&](Group group) {
        return coresCatalogued ? std::nullopt : std::optional<Group>(group);
    };
    if (name.starts_with("Te")) {
        return die(only(ThermalLayout::efficiency), 93 + 3 * j,
                   groupUnlessCatalogued(Group::efficiencyCores));
    }
    if (name.starts_with("Tp")) {
        const bool bankB = oddHash(name);
        return die(only(bankB ? ThermalLayout::performanceB : ThermalLayout::performanceA), 96 + 4 * j,
                   groupUnlessCatalogued(bankB ? Group::performanceBankB : Group::performanceBankA));
    }
    if (name.starts_with("Tg")) {
        const bool bankB = oddHash(name);
        return die(only(bankB ? ThermalLayout::gpuB : ThermalLayout::gpuA), 95 + 3 * j,
                   groupUnlessCatalogued(bankB ? Group::gpuBankB : Group::gpuBankA));
    }
    // Fabric blocks next to the clusters run cooler than the cores.
    if (name.starts_with("Tf0")) {
        return die(only(ThermalLayout::performanceA), 85 + 4 * j);
    }
    if (name.starts_with("Tf1")) {
        return die(only(ThermalLayout::gpuA), 84 + 4 * j);
    }
    if (name.starts_with("Tf2")) {
        return die(only(ThermalLayout::gpuB), 84 + 4 * j);
    }
    if (name.starts_with("Tf4")) {
        return die(only(ThermalLayout::performanceB), 85 + 4 * j);
    }
    if (name.starts_with("Tf")) {
        Weights between{};
        between[ThermalLayout::performanceA] = 0.5;
        between[ThermalLayout::performanceB] = 0.5;
        return die(between, 82 + 4 * j);
    }
    if (startsWithAny(name, {"TCMb", "TCDX", "TVD0"})) {
        return die(cpuDie, 92 + 2 * j);
    }
    if (name.starts_with("Th")) {
        return board(1.0);
    }
    if (startsWithAny(name, {"TPD", "TMVR", "TSVR", "TSWR", "TSXR", "TPMP", "TPSP"})) {
        return board(0.6);
    }
    if (name.starts_with("Tm")) {
        return board(0.7);
    }
    if (startsWithAny(name, {"TD0", "TDBP", "TDTP"})) {
        return board(0.4);
    }
    if (startsWithAny(name, {"TaTP", "TCHP", "TS0P", "TW0P"})) {
        return board(0.3);
    }
    if (name.starts_with("TH0")) {
        return board(0.2);
    }
    if (name.starts_with("TB")) {
        return board(0.12);
    }
    if (startsWithAny(name, {"TAOL", "TVA0"})) {
        return board(0.03);
    }
    return board(0.15);
}

// Placeholders (40.0, 1.0), unused channels (0.0) and power-gated sentinels below ambient.
bool isFixed(float value) {
    return value <= 5.0f || value == 40.0f;
}

} // namespace

ThermalLayout ThermalLayout::of(const SMCProfile& profile) {
    const auto catalogued = [](std::string_view name) -> const Catalogued* {
        for (const auto& entry : catalogue) {
            if (entry.name == name) {
                return &entry;
            }
        }
        return nullptr;
    };
    const bool coresCatalogued =
        std::any_of(profile.keys.begin(), profile.keys.end(), [&](const SimulatedKey& key) {
            const auto* entry = catalogued(IOKitSMCBridge::stringFromKey(key.key));
            return entry != nullptr && entry->rule == Rule::die;
        });

    ThermalLayout layout;
    for (const auto& key : profile.keys) {
        const std::string name = IOKitSMCBridge::stringFromKey(key.key);
        if (name.empty() || name[0] != 'T' || !key.isFloat()) {
            continue;
        }
        const float value = *SimulatedKey::floatFromBytes(key.bytes);
        Channel channel;
        if (const auto* entry = catalogued(name)) {
            channel.rule = entry->rule;
            channel.weights = only(entry->node);
            channel.group = entry->group;
            if (entry->rule == Rule::die) {
                channel.hotCelsius = entry->hotOrGain + 3 * jitter(name);
                channel.noise = dieNoise;
            } else if (entry->rule == Rule::linear) {
                channel.gain = entry->hotOrGain;
                channel.noise = boardNoise;
            } else {
                channel.noise = dieNoise;
            }
        } else if (!isFixed(value)) {
            channel = byFamily(name, coresCatalogued);
        }
        channel.key = key.key;
        channel.name = name;
        channel.baseline = value;
        layout.channels_.push_back(std::move(channel));
    }
    std::sort(layout.channels_.begin(), layout.channels_.end(),
              [](const Channel& lhs, const Channel& rhs) { return lhs.key < rhs.key; });
    return layout;
}

std::optional<std::size_t> ThermalLayout::indexOf(SMCKey key) const {
    const auto position =
        std::lower_bound(channels_.begin(), channels_.end(), key,
                         [](const Channel& channel, SMCKey code) { return channel.key < code; });
    if (position == channels_.end() || position->key != key) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(position - channels_.begin());
}

bool ThermalLayout::isCPUCore(Group group) {
    return group == Group::efficiencyCores || group == Group::performanceBankA ||
           group == Group::performanceBankB;
}

bool ThermalLayout::isGPUCluster(Group group) {
    return group == Group::gpuBankA || group == Group::gpuBankB;
}

std::string ThermalLayout::groupName(Group group) {
    switch (group) {
    case Group::efficiencyCores:
        return "efficiency cores";
    case Group::performanceBankA:
        return "performance bank A";
    case Group::performanceBankB:
        return "performance bank B";
    case Group::gpuBankA:
        return "GPU bank A";
    case Group::gpuBankB:
        return "GPU bank B";
    case Group::cpuHotspot:
        return "CPU hotspot";
    case Group::gpuHotspot:
        return "GPU hotspot";
    case Group::leftChassis:
        return "left chassis";
    case Group::rightChassis:
        return "right chassis";
    }
    return "unknown";
}

std::vector<ThermalLayout::Group> ThermalLayout::allGroups() {
    return {Group::cpuHotspot,       Group::gpuHotspot,       Group::efficiencyCores,
            Group::performanceBankA, Group::performanceBankB, Group::gpuBankA,
            Group::gpuBankB,         Group::leftChassis,      Group::rightChassis};
}

} // namespace quorvane
