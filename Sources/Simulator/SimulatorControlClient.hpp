#pragma once

#include "Platform/FramedSocketClient.hpp"
#include "Simulator/MachineStatus.hpp"
#include "Simulator/SimulatedFault.hpp"

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

namespace quorvane {

// The control side of a running simulated Mac, as `quorvane-sim ctl` uses it. Every call throws
// SimulatorError with the server's refusal or with why the server could not be reached.
class SimulatorControlClient {
public:
    explicit SimulatorControlClient(std::string socketPath,
                                    std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

    // The status document, as `ctl status --json` prints it.
    nlohmann::json statusJSON();
    MachineStatus status();
    // A built-in workload by name, or a timeline file: read and checked here, so its errors name
    // the file as the caller knows it.
    MachineStatus setWorkload(const std::string& nameOrPath);
    MachineStatus injectFault(const SimulatedFault& fault);
    MachineStatus clearFaults();
    // As a module reload of the machine's macsmc_hwmon driver.
    MachineStatus reloadHwmon();

private:
    // Sends one command; returns the reply's status document.
    nlohmann::json send(const nlohmann::json& command);

    FramedSocketClient connection_;
};

} // namespace quorvane
