#include "Helpers/CompetingFanControllerDetector.hpp"

namespace quorvane::CompetingFanControllerDetector {

const std::vector<std::pair<std::string, std::string>>& knownExecutableSuffixes() {
    static const std::vector<std::pair<std::string, std::string>> table{
        {"/mbpfan", "mbpfan"},
        {"/macfanctld", "macfanctld"},
    };
    return table;
}

std::optional<std::string> controllerName(const std::string& executablePath) {
    for (const auto& [suffix, name] : knownExecutableSuffixes()) {
        if (executablePath.size() >= suffix.size() &&
            executablePath.compare(executablePath.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return name;
        }
    }
    return std::nullopt;
}

namespace {

// A daemon whose executable cannot be inspected, known by what it says it runs: a command word
// names a file ("/usr/sbin/mbpfan" or "mbpfan"), the kernel's name is that file's name.
std::optional<CompetingFanController> byName(ProcessTable& processes, pid_t process) {
    if (auto command = processes.commandName(process)) {
        const auto slash = command->rfind('/');
        const std::string fileName = slash == std::string::npos ? *command : command->substr(slash + 1);
        if (auto name = controllerName("/" + fileName)) {
            return CompetingFanController{*name, *command, process};
        }
    }
    if (auto processName = processes.processName(process)) {
        if (auto name = controllerName("/" + *processName)) {
            return CompetingFanController{*name, *processName, process};
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<CompetingFanController> runningControllerDetails(ProcessTable& processes) {
    try {
        const pid_t own = processes.ownProcessIdentifier();
        for (pid_t process : processes.processIdentifiers()) {
            if (process == own) {
                continue;
            }
            // A readable executable settles it; names are only what a process says about itself.
            if (auto path = processes.executablePath(process)) {
                if (auto name = controllerName(*path)) {
                    return CompetingFanController{*name, *path, process};
                }
                continue;
            }
            if (auto found = byName(processes, process)) {
                return found;
            }
        }
    } catch (const std::exception&) {
        // A failed listing means no competitor.
    }
    return std::nullopt;
}

} // namespace quorvane::CompetingFanControllerDetector
