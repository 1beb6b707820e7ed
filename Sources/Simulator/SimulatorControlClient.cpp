#include "Simulator/SimulatorControlClient.hpp"

#include "Platform/SMCSocketProtocol.hpp"
#include "Simulator/SimulatorError.hpp"
#include "Simulator/Workload.hpp"
#include "Simulator/WorkloadScript.hpp"

#include <fstream>
#include <sstream>

namespace quorvane {

SimulatorControlClient::SimulatorControlClient(std::string socketPath, std::chrono::milliseconds timeout)
    : connection_(std::move(socketPath), timeout, SMCSocketProtocol::maxPayload) {}

nlohmann::json SimulatorControlClient::statusJSON() {
    return send({{"command", "status"}});
}

MachineStatus SimulatorControlClient::status() {
    return MachineStatus::fromJSON(statusJSON());
}

MachineStatus SimulatorControlClient::setWorkload(const std::string& nameOrPath) {
    nlohmann::json command{{"command", "workload"}, {"workload", nameOrPath}};
    if (WorkloadScript::isPath(nameOrPath)) {
        std::ifstream file(nameOrPath, std::ios::binary);
        if (!file) {
            throw SimulatorError(nameOrPath + ": cannot read the timeline file");
        }
        std::ostringstream text;
        text << file.rdbuf();
        WorkloadScript::parse(text.str(), nameOrPath);
        command["script"] = text.str();
    } else {
        Workload::named(nameOrPath);
    }
    return MachineStatus::fromJSON(send(command));
}

MachineStatus SimulatorControlClient::injectFault(const SimulatedFault& fault) {
    return MachineStatus::fromJSON(send({{"command", "fault"}, {"fault", fault.toJSON()}}));
}

MachineStatus SimulatorControlClient::clearFaults() {
    return MachineStatus::fromJSON(send({{"command", "clear"}}));
}

MachineStatus SimulatorControlClient::reloadHwmon() {
    return MachineStatus::fromJSON(send({{"command", "hwmon-reload"}}));
}

nlohmann::json SimulatorControlClient::send(const nlohmann::json& command) {
    if (!connection_.connect()) {
        throw SimulatorError("No simulated Mac answers at " + connection_.path() +
                             " (start one with quorvane-sim serve, or set " +
                             SMCSocketProtocol::socketPathVariable + ")");
    }
    const auto payload =
        connection_.request(SMCSocketProtocol::encodeRequest(SMCSocketProtocol::control(command.dump())));
    const auto reply = payload ? SMCSocketProtocol::decodeReply(*payload) : std::nullopt;
    if (!reply || reply->type != SMCSocketProtocol::MessageType::control) {
        throw SimulatorError("The simulated Mac at " + connection_.path() + " did not answer");
    }
    const auto document = nlohmann::json::parse(reply->text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        throw SimulatorError("The simulated Mac at " + connection_.path() +
                             " sent a reply this tool does not understand");
    }
    if (!document.value("ok", false)) {
        throw SimulatorError(document.value("error", std::string("The simulated Mac refused the command")));
    }
    return document.value("status", nlohmann::json::object());
}

} // namespace quorvane
