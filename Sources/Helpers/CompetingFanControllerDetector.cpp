#include "Helpers/CompetingFanControllerDetector.hpp"

#include <string_view>

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

// The kernel keeps at most this much of the file name a process was started from.
constexpr std::size_t processNameLength = 15;

// The utility whose file name begins with (at most `length` characters of) name.
std::optional<std::string> controllerForFileName(std::string_view name, std::size_t length) {
    for (const auto& [suffix, controller] : knownExecutableSuffixes()) {
        if (std::string_view(suffix).substr(1, length) == name) {
            return controller;
        }
    }
    return std::nullopt;
}

// A daemon whose executable cannot be inspected, known by what it says it runs: its command word
// when that names the same utility's file ("/usr/sbin/mbpfan" or "mbpfan"), else its name.
CompetingFanController byName(ProcessTable& processes, pid_t process, const std::string& name,
                              const std::string& processName) {
    if (auto command = processes.commandName(process)) {
        const auto slash = command->rfind('/');
        const std::string_view fileName =
            std::string_view(*command).substr(slash == std::string::npos ? 0 : slash + 1);
        if (controllerForFileName(fileName, std::string_view::npos) == name) {
            return CompetingFanController{name, *command, process};
        }
    }
    return CompetingFanController{name, processName, process};
}

} // namespace

std::optional<CompetingFanController> runningControllerDetails(ProcessTable& processes, Scope scope) {
    try {
        const pid_t own = processes.ownProcessIdentifier();
        for (pid_t process : processes.processIdentifiers()) {
            if (process == own) {
                continue;
            }
            const auto processName = processes.processName(process);
            const auto name =
                processName ? controllerForFileName(*processName, processNameLength) : std::nullopt;
            if (!name) {
                continue;
            }
            std::optional<CompetingFanController> found;
            // A readable executable settles it; names are only what a process says about itself.
            if (auto path = processes.executablePath(process)) {
                if (auto byPath = controllerName(*path)) {
                    found = CompetingFanController{*byPath, *path, process};
                }
            } else {
                found = byName(processes, process, *name, *processName);
            }
            if (!found) {
                continue;
            }
            if (scope == Scope::rootProcesses) {
                const auto status = processes.status(process);
                if (!status || status->zombie || !status->runsAsRoot()) {
                    continue;
                }
            }
            return found;
        }
    } catch (const std::exception&) {
        // A failed listing means no competitor.
    }
    return std::nullopt;
}

} // namespace quorvane::CompetingFanControllerDetector
