#include "Simulator/ThermalModel.hpp"

#include "Simulator/SimulatedAppleSMC.hpp"
#include "Simulator/Workload.hpp"

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

using Node = ThermalLayout::Node;
using Rule = ThermalLayout::Rule;

// Heat capacities in J/K: small dies that follow their power within seconds, heatsink halves
// (with the chassis around them) that take minutes.
constexpr std::array<double, ThermalLayout::nodeCount> capacity{2.5, 4.0, 4.0, 5.0, 5.0, 150.0, 150.0};

struct Link {
    Node a;
    Node b;
    double conductance; // W/K
};

// Banks A sit over the left heatsink half, banks B over the right one; the efficiency cores in
// the middle.
constexpr Link links[] = {
    {ThermalLayout::efficiency, ThermalLayout::leftSink, 0.22},
    {ThermalLayout::efficiency, ThermalLayout::rightSink, 0.22},
    {ThermalLayout::performanceA, ThermalLayout::leftSink, 0.50},
    {ThermalLayout::performanceA, ThermalLayout::rightSink, 0.10},
    {ThermalLayout::performanceB, ThermalLayout::leftSink, 0.10},
    {ThermalLayout::performanceB, ThermalLayout::rightSink, 0.50},
    {ThermalLayout::gpuA, ThermalLayout::leftSink, 0.45},
    {ThermalLayout::gpuA, ThermalLayout::rightSink, 0.10},
    {ThermalLayout::gpuB, ThermalLayout::leftSink, 0.10},
    {ThermalLayout::gpuB, ThermalLayout::rightSink, 0.45},
    {ThermalLayout::efficiency, ThermalLayout::performanceA, 0.12},
    {ThermalLayout::efficiency, ThermalLayout::performanceB, 0.12},
    {ThermalLayout::performanceA, ThermalLayout::performanceB, 0.10},
    {ThermalLayout::gpuA, ThermalLayout::gpuB, 0.10},
    {ThermalLayout::performanceA, ThermalLayout::gpuA, 0.10},
    {ThermalLayout::performanceB, ThermalLayout::gpuB, 0.10},
    {ThermalLayout::leftSink, ThermalLayout::rightSink, 0.60},
};

// Heatsink half to ambient: passive, plus forced air growing a little slower than fan speed.
constexpr double passiveConductance = 0.20;
constexpr double fanConductance = 2.0;
constexpr double airflowExponent = 0.8;
// Display, memory and the rest of the board, into each heatsink half.
constexpr double boardWatts = 1.5;
constexpr double leakagePerDegree = 0.006;
constexpr double leakageFromCelsius = 40.0;
constexpr double throttleSlope = 0.15;
constexpr double throttleFloor = 0.05;

constexpr std::size_t clusterCount = ClusterPower::clusterCount;

} // namespace

ThermalModel::ThermalModel(const SMCProfile& profile, std::uint64_t seed)
    : layout_(ThermalLayout::of(profile)), random_(seed) {
    fans_.resize(SimulatedAppleSMC::maxFans);
    const auto valueOf = [&](SMCKey key) -> std::optional<float> {
        for (const auto& entry : profile.keys) {
            if (entry.key == key) {
                return SimulatedKey::floatFromBytes(entry.bytes);
            }
        }
        return std::nullopt;
    };
    publishesSystemPower_ = valueOf(systemPowerKey).has_value();
    publishesHeatpipePower_ = valueOf(heatpipePowerKey).has_value();
    for (int index = 0; index < SimulatedAppleSMC::maxFans; ++index) {
        const auto minimum = valueOf(SMCKey::fan(index, "Mn"));
        const auto maximum = valueOf(SMCKey::fan(index, "Mx"));
        if (valueOf(SMCKey::fan(index, "Ac")) && minimum && maximum && *maximum > 0) {
            fans_[index] = FanLimits{*minimum, *maximum};
        }
    }

    // Settle at idle with the fans still: steps long enough to be the steady state itself.
    nodes_.fill(ambientCelsius);
    for (int i = 0; i < 400; ++i) {
        step(Workload::idlePower(), 1.0e5, Airflow{0, 0});
    }
    const auto& channels = layout_.channels();
    idleMix_.resize(channels.size());
    gains_.resize(channels.size());
    readings_.resize(channels.size());
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const auto& channel = channels[i];
        idleMix_[i] = mix(channel.weights, nodes_);
        readings_[i] = channel.baseline;
        if (channel.rule == Rule::die) {
            gains_[i] =
                (channel.hotCelsius - channel.baseline) / (ThermalLayout::dieReferenceCelsius - idleMix_[i]);
        } else if (channel.rule == Rule::linear) {
            gains_[i] = channel.gain;
        }
    }
}

void ThermalModel::start(std::int64_t nowMilliseconds) {
    time_ = nowMilliseconds;
}

void ThermalModel::advance(SimulatedAppleSMC& firmware, std::int64_t nowMilliseconds,
                           const Workload& workload, std::int64_t workloadStart) {
    if (!time_) {
        time_ = nowMilliseconds;
    }
    const Airflow air = airflow(firmware);
    bool moved = false;
    while (*time_ + stepMilliseconds <= nowMilliseconds) {
        step(workload.powerAt(*time_ - workloadStart), stepMilliseconds / 1000.0, air);
        *time_ += stepMilliseconds;
        moved = true;
    }
    // Sensors sample when time moves: a machine standing still reads the same every time.
    if (!moved && !stale_) {
        return;
    }
    stale_ = false;
    computeReadings(nowMilliseconds);
    const auto& channels = layout_.channels();
    for (std::size_t i = 0; i < channels.size(); ++i) {
        firmware.setFloat(channels[i].key, readings_[i]);
    }
    if (publishesSystemPower_) {
        firmware.setFloat(systemPowerKey, static_cast<float>(systemWatts_));
    }
    if (publishesHeatpipePower_) {
        firmware.setFloat(heatpipePowerKey, static_cast<float>(heatpipeWatts_));
    }
    setFanTargets(firmware);
}

bool ThermalModel::dropOut(SMCKey key) {
    if (!layout_.indexOf(key)) {
        return false;
    }
    droppedOut_.insert(key);
    stale_ = true;
    return true;
}

bool ThermalModel::spike(SMCKey key, double celsius, std::int64_t untilMilliseconds) {
    if (!layout_.indexOf(key)) {
        return false;
    }
    spikes_[key] = Spike{celsius, untilMilliseconds};
    stale_ = true;
    return true;
}

void ThermalModel::clearSensorFaults() {
    droppedOut_.clear();
    spikes_.clear();
    stale_ = true;
}

// One implicit (backward Euler) step, solved node by node; stable for any step length, so the
// same routine also finds the idle steady state.
void ThermalModel::step(const ClusterPower& demand, double seconds, const Airflow& airflow) {
    const auto demanded = demand.values();
    std::array<double, ThermalLayout::nodeCount> power{};
    for (std::size_t i = 0; i < clusterCount; ++i) {
        double watts = demanded[i] * (1.0 + leakagePerDegree * std::max(0.0, nodes_[i] - leakageFromCelsius));
        if (nodes_[i] > throttleCelsius) {
            watts *= std::max(throttleFloor, 1.0 - throttleSlope * (nodes_[i] - throttleCelsius));
        }
        power[i] = watts;
    }
    power[ThermalLayout::leftSink] = boardWatts;
    power[ThermalLayout::rightSink] = boardWatts;
    effectivePower_ = {power[0], power[1], power[2], power[3], power[4]};

    const Nodes previous = nodes_;
    for (std::size_t node = 0; node < ThermalLayout::nodeCount; ++node) {
        const double inertia = capacity[node] / seconds;
        double numerator = inertia * previous[node] + power[node];
        double denominator = inertia;
        for (const auto& link : links) {
            if (link.a == node || link.b == node) {
                const std::size_t other = link.a == node ? link.b : link.a;
                numerator += link.conductance * nodes_[other];
                denominator += link.conductance;
            }
        }
        if (node == ThermalLayout::leftSink || node == ThermalLayout::rightSink) {
            const double toAmbient =
                passiveConductance + fanConductance * airflow[node == ThermalLayout::leftSink ? 0 : 1];
            numerator += toAmbient * ambientCelsius;
            denominator += toAmbient;
        }
        nodes_[node] = numerator / denominator;
    }

    systemWatts_ = 0;
    for (const double watts : power) {
        systemWatts_ += watts;
    }
    heatpipeWatts_ = 0;
    for (const auto& link : links) {
        const bool intoSink = link.b == ThermalLayout::leftSink || link.b == ThermalLayout::rightSink;
        if (intoSink && link.a < clusterCount) {
            heatpipeWatts_ += link.conductance * (nodes_[link.a] - nodes_[link.b]);
        }
    }
}

// Each side's share of full airflow: fan 0 blows over the left half, fan 1 over the right one; a
// single fan serves both.
ThermalModel::Airflow ThermalModel::airflow(SimulatedAppleSMC& firmware) {
    Airflow sum{0, 0};
    std::array<int, 2> count{0, 0};
    const auto fanCount =
        std::count_if(fans_.begin(), fans_.end(), [](const auto& fan) { return fan.has_value(); });
    for (int index = 0; index < SimulatedAppleSMC::maxFans; ++index) {
        if (!fans_[index]) {
            continue;
        }
        const double rpm = std::max(0.0f, firmware.floatValue(SMCKey::fan(index, "Ac")).value_or(0.0f));
        const double share = std::pow(std::min(1.0, rpm / fans_[index]->maximum), airflowExponent);
        for (int side = 0; side < 2; ++side) {
            if (fanCount == 1 || index % 2 == side) {
                sum[side] += share;
                ++count[side];
            }
        }
    }
    return {count[0] ? sum[0] / count[0] : 0.0, count[1] ? sum[1] / count[1] : 0.0};
}

void ThermalModel::computeReadings(std::int64_t now) {
    const auto& channels = layout_.channels();
    std::normal_distribution<double> noise(0.0, 1.0);
    double maxCore = -1000;
    double idleMaxCore = -1000;
    double maxGPU = -1000;
    double idleMaxGPU = -1000;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const auto& channel = channels[i];
        if (channel.rule == Rule::constant) {
            readings_[i] = channel.baseline;
        }
        if (channel.rule != Rule::die && channel.rule != Rule::linear) {
            continue;
        }
        const double value = channel.baseline + gains_[i] * (mix(channel.weights, nodes_) - idleMix_[i]) +
                             channel.noise * noise(random_);
        readings_[i] = static_cast<float>(value);
        if (channel.group && ThermalLayout::isCPUCore(*channel.group)) {
            maxCore = std::max(maxCore, value);
            idleMaxCore = std::max(idleMaxCore, static_cast<double>(channel.baseline));
        } else if (channel.group && ThermalLayout::isGPUCluster(*channel.group)) {
            maxGPU = std::max(maxGPU, value);
            idleMaxGPU = std::max(idleMaxGPU, static_cast<double>(channel.baseline));
        }
    }
    // A hotspot is the die's hottest point: never below the channels it summarises, and further
    // above them the more power flows.
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const auto& channel = channels[i];
        const bool cpu = channel.rule == Rule::cpuHotspot;
        if (!cpu && channel.rule != Rule::gpuHotspot) {
            continue;
        }
        const double hottest = cpu ? maxCore : maxGPU;
        const double idleHottest = cpu ? idleMaxCore : idleMaxGPU;
        const double watts = cpu ? effectivePower_.cpu() : effectivePower_.gpu();
        if (hottest < -999) {
            readings_[i] = channel.baseline;
            continue;
        }
        const double value =
            std::max(hottest + 1.5 + 0.03 * watts, channel.baseline + 0.75 * (hottest - idleHottest)) +
            channel.noise * noise(random_);
        readings_[i] = static_cast<float>(std::max(value, hottest + 0.5));
    }
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const auto key = channels[i].key;
        if (droppedOut_.contains(key)) {
            readings_[i] = 0.0f;
        } else if (const auto spike = spikes_.find(key); spike != spikes_.end()) {
            if (now < spike->second.until) {
                readings_[i] += static_cast<float>(spike->second.celsius);
            } else {
                spikes_.erase(spike);
            }
        }
    }
}

void ThermalModel::setFanTargets(SimulatedAppleSMC& firmware) {
    const double hottest = *std::max_element(nodes_.begin(), nodes_.begin() + clusterCount);
    const auto share = curve_.update(hottest);
    for (int index = 0; index < SimulatedAppleSMC::maxFans; ++index) {
        if (fans_[index]) {
            firmware.setAutomaticTarget(index, static_cast<float>(SystemFanCurve::rpmFor(
                                                   share, fans_[index]->minimum, fans_[index]->maximum)));
        }
    }
}

double ThermalModel::mix(const ThermalLayout::Weights& weights, const Nodes& nodes) const {
    double sum = 0;
    for (std::size_t i = 0; i < ThermalLayout::nodeCount; ++i) {
        sum += weights[i] * nodes[i];
    }
    return sum;
}

} // namespace quorvane
