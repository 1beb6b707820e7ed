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

std::optional<CompetingFanController> runningControllerDetails(ProcessTable& processes) {
    try {
        const pid_t own = processes.ownProcessIdentifier();
        for (pid_t process : processes.processIdentifiers()) {
            if (process == own) {
                continue;
            }
            auto path = processes.executablePath(process);
            if (!path) {
                continue;
            }
            if (auto name = controllerName(*path)) {
                return CompetingFanController{*name, *path, process};
            }
        }
    } catch (const std::exception&) {
        // A failed listing means no competitor.
    }
    return std::nullopt;
}

} // namespace quorvane::CompetingFanControllerDetector
