#include "Simulator/MachineStatus.hpp"

#include "Simulator/SimulatorError.hpp"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

namespace quorvane {

namespace {

std::string fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

std::string rpm(double value) {
    return std::to_string(std::llround(value));
}

} // namespace

nlohmann::json MachineStatus::toJSON() const {
    nlohmann::json fansJSON = nlohmann::json::array();
    for (const auto& fan : fans) {
        fansJSON.push_back({{"index", fan.index},
                            {"mode", fan.mode ? nlohmann::json(*fan.mode) : nlohmann::json()},
                            {"modeName", modeName(fan.mode)},
                            {"actualRPM", fan.actualRPM},
                            {"targetRPM", fan.targetRPM},
                            {"minimumRPM", fan.minimumRPM},
                            {"maximumRPM", fan.maximumRPM}});
    }
    nlohmann::json hottestJSON = nlohmann::json::array();
    for (const auto& entry : hottest) {
        hottestJSON.push_back({{"group", entry.group}, {"key", entry.key}, {"celsius", entry.celsius}});
    }
    nlohmann::json byProcess = nlohmann::json::array();
    for (const auto& [pid, count] : exchangesByProcess) {
        byProcess.push_back({{"pid", pid}, {"exchanges", count}});
    }
    return {{"modelIdentifier", modelIdentifier},
            {"description", description},
            {"workload", workload},
            {"workloadSeconds", workloadSeconds},
            {"simulatedSeconds", simulatedSeconds},
            {"clusterWatts", clusterWatts},
            {"Ftst", ftst ? nlohmann::json(*ftst) : nlohmann::json()},
            {"fans", fansJSON},
            {"hottest", hottestJSON},
            {"faults", faults},
            {"exchanges", exchanges},
            {"exchangesByProcess", byProcess}};
}

MachineStatus MachineStatus::fromJSON(const nlohmann::json& value) {
    try {
        MachineStatus status;
        status.modelIdentifier = value.at("modelIdentifier").get<std::string>();
        status.description = value.at("description").get<std::string>();
        status.workload = value.at("workload").get<std::string>();
        status.workloadSeconds = value.at("workloadSeconds").get<double>();
        status.simulatedSeconds = value.at("simulatedSeconds").get<double>();
        status.clusterWatts = value.at("clusterWatts").get<double>();
        if (!value.at("Ftst").is_null()) {
            status.ftst = value.at("Ftst").get<int>();
        }
        for (const auto& fan : value.at("fans")) {
            Fan entry;
            entry.index = fan.at("index").get<int>();
            if (!fan.at("mode").is_null()) {
                entry.mode = fan.at("mode").get<int>();
            }
            entry.actualRPM = fan.at("actualRPM").get<double>();
            entry.targetRPM = fan.at("targetRPM").get<double>();
            entry.minimumRPM = fan.at("minimumRPM").get<double>();
            entry.maximumRPM = fan.at("maximumRPM").get<double>();
            status.fans.push_back(entry);
        }
        for (const auto& entry : value.at("hottest")) {
            status.hottest.push_back({entry.at("group").get<std::string>(),
                                      entry.at("key").get<std::string>(), entry.at("celsius").get<double>()});
        }
        status.faults = value.at("faults").get<std::vector<std::string>>();
        status.exchanges = value.value("exchanges", std::uint64_t{0});
        for (const auto& entry : value.value("exchangesByProcess", nlohmann::json::array())) {
            status.exchangesByProcess[entry.at("pid").get<int>()] =
                entry.at("exchanges").get<std::uint64_t>();
        }
        return status;
    } catch (const nlohmann::json::exception&) {
        throw SimulatorError("The simulated Mac sent a status this tool does not understand");
    }
}

std::string MachineStatus::text() const {
    std::ostringstream out;
    out << "Simulated Mac " << modelIdentifier << " (" << description << ") at " << fixed(simulatedSeconds, 1)
        << " s\n";
    out << "Workload: " << workload << " for " << fixed(workloadSeconds, 1) << " s, clusters at "
        << fixed(clusterWatts, 1) << " W\n";
    out << "Ftst: " << (ftst ? std::to_string(*ftst) : std::string("absent")) << "\n";
    if (fans.empty()) {
        out << "Fans: none\n";
    }
    for (const auto& fan : fans) {
        out << "Fan " << fan.index << ": " << modeName(fan.mode) << ", actual " << rpm(fan.actualRPM)
            << " RPM, target " << rpm(fan.targetRPM) << " RPM, limits " << rpm(fan.minimumRPM) << "..."
            << rpm(fan.maximumRPM) << " RPM\n";
    }
    for (const auto& entry : hottest) {
        out << "  " << entry.group << ": " << entry.key << " " << fixed(entry.celsius, 1) << " °C\n";
    }
    out << "SMC exchanges: " << exchanges;
    for (const auto& [pid, count] : exchangesByProcess) {
        out << (pid == exchangesByProcess.begin()->first ? " (" : ", ") << "pid " << pid << ": " << count;
    }
    out << (exchangesByProcess.empty() ? "\n" : ")\n");
    if (faults.empty()) {
        out << "Faults: none\n";
    } else {
        out << "Faults:\n";
        for (const auto& fault : faults) {
            out << "  " << fault << "\n";
        }
    }
    return out.str();
}

std::string MachineStatus::modeName(std::optional<int> mode) {
    if (!mode) {
        return "mode unreadable";
    }
    switch (*mode) {
    case 0:
        return "automatic (0)";
    case 1:
        return "manual (1)";
    case 3:
        return "system (3)";
    default:
        return "mode " + std::to_string(*mode);
    }
}

} // namespace quorvane
