#pragma once

#include "SMC/SMCUserClient.hpp"
#include "Simulator/ClusterPower.hpp"
#include "Simulator/MachineStatus.hpp"
#include "Simulator/SMCProfile.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Simulator/SimulatedFault.hpp"
#include "Simulator/ThermalLayout.hpp"
#include "Simulator/ThermalModel.hpp"
#include "Simulator/Workload.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class Clock;

// The simulated machine as a whole: its SMC firmware, the thermal physics behind it, the workload
// it runs and the faults it has been given. Every operation takes one lock, so any number of
// connections, the physics timer and a test thread can share it.
//
// Physics only moves in advanceToNow(); a server calls it from a timer and tests after stepping
// their clock. Exchanges see the temperatures of the last advance and the fans and latches of the
// present, as the firmware keeps those itself.
class SimulatedMac {
public:
    // The clock must outlive the machine; reads of it all happen under the lock. The machine
    // starts settled at idle.
    SimulatedMac(SMCProfile profile, Clock& clock, std::uint64_t seed = 1);

    SimulatedMac(const SimulatedMac&) = delete;
    SimulatedMac& operator=(const SimulatedMac&) = delete;

    // One structure call, as SimulatedAppleSMC::exchange.
    std::uint32_t exchange(std::uint32_t selector, const SMCParamStruct& input, SMCParamStruct& output,
                           std::size_t& outputSize, bool privileged);
    // An in-process transport onto this machine, which must outlive it.
    std::unique_ptr<SMCUserClient> makeUserClient(bool privileged = true);

    void advanceToNow();
    // The workload's time starts now.
    void setWorkload(Workload workload);
    // Throws SimulatorError for a key, sensor or fan this machine does not have.
    void injectFault(const SimulatedFault& fault);
    void clearFaults();
    // What the kernel's macsmc_hwmon driver does to a fan: a target puts it in manual at that speed,
    // none hands it back to automatic. Throws SimulatorError for a fan this machine does not have.
    void overrideFan(int fan, std::optional<float> manualTarget);

    MachineStatus status();
    const SMCProfile& profile() const { return firmware_.profile(); }
    const std::string& modelIdentifier() const { return firmware_.profile().modelIdentifier; }

    // The reading a temperature key holds now; nullopt for no such "flt " key.
    std::optional<float> temperature(std::string_view key);
    // The hottest reading of a group; nullopt when the machine has no channel in it.
    std::optional<double> hottest(ThermalLayout::Group group);
    double nodeCelsius(ThermalLayout::Node node);
    ClusterPower effectivePower();

private:
    struct ActiveFault {
        SimulatedFault fault;
        std::int64_t until = 0;
    };

    void advanceLocked();
    std::optional<std::pair<std::string, double>> hottestLocked(ThermalLayout::Group group) const;
    bool isActive(const ActiveFault& active, std::int64_t now) const;

    mutable std::mutex mutex_;
    Clock& clock_;
    SimulatedAppleSMC firmware_;
    ThermalModel model_;
    Workload workload_;
    std::int64_t workloadStart_;
    std::vector<ActiveFault> faults_;
};

} // namespace quorvane
