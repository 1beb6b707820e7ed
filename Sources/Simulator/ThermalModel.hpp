#pragma once

#include "SMC/SMCKey.hpp"
#include "Simulator/ClusterPower.hpp"
#include "Simulator/SMCProfile.hpp"
#include "Simulator/SystemFanCurve.hpp"
#include "Simulator/ThermalLayout.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvane {

class SimulatedAppleSMC;
class Workload;

// The heat behind the firmware's temperature keys. Five cluster masses (efficiency cores,
// performance banks A and B, GPU banks A and B) take the workload's power and pass it, through the
// package and to each other, into two heatsink halves; each half loses heat to the ambient air,
// passively and more the faster the fan on its side turns. Cluster power grows a little with
// temperature (leakage) and is cut back above the throttle temperature, as the SoC does.
//
// The machine starts settled at idle with the fans standing still, where every key reads its
// profile value. While the system owns the fans, its own curve sets their speeds from the hottest
// cluster. Readings carry small noise from a seeded generator: the same seed and the same calls
// give the same run.
class ThermalModel {
public:
    ThermalModel(const SMCProfile& profile, std::uint64_t seed);

    // Where physics time starts; nothing before it is simulated.
    void start(std::int64_t nowMilliseconds);
    // Runs the network in fixed steps up to `now` under the power the workload asks for (its time
    // counted from `workloadStart`), with the fan speeds the firmware reports now; then, if time
    // moved or a sensor fault changed, writes every channel into the firmware and hands it the
    // system curve's fan targets.
    void advance(SimulatedAppleSMC& firmware, std::int64_t nowMilliseconds, const Workload& workload,
                 std::int64_t workloadStart);

    // Sensor faults: a channel that reads 0.0, or one that reads `celsius` high until `until`.
    // Both return false for a key that is not a temperature channel.
    bool dropOut(SMCKey key);
    bool spike(SMCKey key, double celsius, std::int64_t untilMilliseconds);
    void clearSensorFaults();

    const ThermalLayout& layout() const { return layout_; }
    double nodeCelsius(ThermalLayout::Node node) const { return nodes_[node]; }
    // Power the clusters actually put out in the last step, after leakage and throttling.
    const ClusterPower& effectivePower() const { return effectivePower_; }
    const std::vector<float>& readings() const { return readings_; }
    // What the machine draws in all (the SoC and the rest of the board), as "PSTR" reports it.
    double systemPower() const { return systemWatts_; }
    // Heat flowing from the SoC into the heatsink halves the fans cool, as "PHPC" reports it.
    double heatpipePower() const { return heatpipeWatts_; }

    static inline const SMCKey systemPowerKey = SMCKey::fromString("PSTR");
    static inline const SMCKey heatpipePowerKey = SMCKey::fromString("PHPC");

    static constexpr std::int64_t stepMilliseconds = 100;
    static constexpr double ambientCelsius = 22.0;
    static constexpr double throttleCelsius = 105.0;

private:
    using Nodes = std::array<double, ThermalLayout::nodeCount>;
    using Airflow = std::array<double, 2>;

    struct FanLimits {
        double minimum = 0;
        double maximum = 0;
    };

    void step(const ClusterPower& demand, double seconds, const Airflow& airflow);
    Airflow airflow(SimulatedAppleSMC& firmware);
    void computeReadings(std::int64_t now);
    void setFanTargets(SimulatedAppleSMC& firmware);
    double mix(const ThermalLayout::Weights& weights, const Nodes& nodes) const;

    ThermalLayout layout_;
    // Per channel: its node mix at idle, and the gain that maps the mix onto its reading.
    std::vector<double> idleMix_;
    std::vector<double> gains_;
    std::vector<float> readings_;
    std::vector<std::optional<FanLimits>> fans_;
    Nodes nodes_{};
    ClusterPower effectivePower_;
    double systemWatts_ = 0;
    double heatpipeWatts_ = 0;
    // Whether the profile has the power keys the physics keeps up to date.
    bool publishesSystemPower_ = false;
    bool publishesHeatpipePower_ = false;
    SystemFanCurve curve_;
    std::mt19937_64 random_;
    std::optional<std::int64_t> time_;
    // Readings need computing even though time has not moved: at the start and after a fault change.
    bool stale_ = true;

    std::unordered_set<SMCKey> droppedOut_;
    struct Spike {
        double celsius = 0;
        std::int64_t until = 0;
    };
    std::unordered_map<SMCKey, Spike> spikes_;
};

} // namespace quorvane
