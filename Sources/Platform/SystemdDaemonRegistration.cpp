#include "Platform/SystemdDaemonRegistration.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Platform/PlatformServiceError.hpp"

#include <algorithm>
#include <sstream>

namespace quorvane {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool isEnabled(const std::string& state) {
    return state == "enabled" || state == "enabled-runtime";
}

bool isMasked(const std::string& state) {
    return state == "masked" || state == "masked-runtime";
}

} // namespace

SystemdDaemonRegistration::SystemdDaemonRegistration(SystemCommand::Runner run) : run_(std::move(run)) {}

std::string SystemdDaemonRegistration::serviceUnit() {
    return AppBundleIdentifier + ".helper.service";
}

std::string SystemdDaemonRegistration::socketUnit() {
    return AppBundleIdentifier + ".helper.socket";
}

int SystemdDaemonRegistration::status() {
    // One line per unit, in order; nonzero exit just means "not enabled".
    const auto result = run_({"systemctl", "is-enabled", serviceUnit(), socketUnit()});
    if (result.output.find("No such file or directory") != std::string::npos) {
        return 3; // systemd before 250 words a missing unit as an error
    }
    std::vector<std::string> states;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        states.push_back(trimmed(line));
    }
    if (states.size() != 2) {
        return unknownStatus;
    }
    const auto& service = states[0];
    const auto& socket = states[1];
    if (service == "not-found" || socket == "not-found") {
        return 3;
    }
    if (isMasked(service) || isMasked(socket)) {
        return 2;
    }
    if (isEnabled(socket) || isEnabled(service)) {
        return 1;
    }
    if (socket == "disabled") {
        return 0;
    }
    return unknownStatus;
}

void SystemdDaemonRegistration::registerDaemon() {
    systemctl({"enable", "--now", serviceUnit()});
}

void SystemdDaemonRegistration::unregisterDaemon(std::function<void(std::exception_ptr)> completion) {
    try {
        systemctl({"disable", "--now", serviceUnit()});
    } catch (...) {
        completion(std::current_exception());
        return;
    }
    completion(nullptr);
}

void SystemdDaemonRegistration::systemctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"systemctl"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto result = run_(command);
    if (result.exitStatus == 0) {
        return;
    }
    auto message = trimmed(result.output);
    if (message.empty()) {
        message =
            "systemctl " + arguments.front() + " failed with status " + std::to_string(result.exitStatus);
    }
    throw PlatformServiceError(message);
}

} // namespace quorvane
