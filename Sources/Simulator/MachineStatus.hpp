#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// A running simulated Mac at one moment, as the control command line shows it.
struct MachineStatus {
    struct Fan {
        int index = 0;
        std::optional<int> mode;
        double actualRPM = 0;
        double targetRPM = 0;
        double minimumRPM = 0;
        double maximumRPM = 0;
    };

    // The hottest channel of one group, e.g. performance bank A.
    struct Hottest {
        std::string group;
        std::string key;
        double celsius = 0;
    };

    std::string modelIdentifier;
    std::string description;
    std::string workload;
    double workloadSeconds = 0;
    double simulatedSeconds = 0;
    double clusterWatts = 0;
    std::optional<int> ftst;
    std::vector<Fan> fans;
    std::vector<Hottest> hottest;
    std::vector<std::string> faults;
    // SMC record exchanges answered since the machine started, in all and per client process id
    // (clients over the socket only; a process keeps its count after it disconnects).
    std::uint64_t exchanges = 0;
    std::map<int, std::uint64_t> exchangesByProcess;

    nlohmann::json toJSON() const;
    // Throws SimulatorError for a document that is not a status.
    static MachineStatus fromJSON(const nlohmann::json& value);
    // Several lines, one per fan and one per group.
    std::string text() const;

    static std::string modeName(std::optional<int> mode);
};

} // namespace quorvane
