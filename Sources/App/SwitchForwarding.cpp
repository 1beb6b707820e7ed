#include "App/SwitchForwarding.hpp"

#include "Platform/AppInstanceError.hpp"

#include <functional>
#include <vector>

namespace quorvane {

int forwardSwitches(const AppCommandLine& commandLine, AppInstanceCommands& running, std::ostream& output,
                    std::ostream& errors) {
    std::vector<std::string> own;
    if (commandLine.json) {
        own.push_back("--json");
    }
    if (commandLine.polls) {
        own.push_back("--polls");
    }
    if (commandLine.screenshotDirectory) {
        own.push_back("--screenshots");
    }
    if (!own.empty()) {
        std::string list;
        for (const auto& name : own) {
            list += (list.empty() ? "" : ", ") + name;
        }
        errors << "Quorvane: " << list
               << " need a Quorvane of their own; one is already running, so quit it first\n";
        return 2;
    }

    // The running app resolves files from its own folder: hand it absolute paths.
    const auto absolute = [](const std::filesystem::path& file) {
        return std::filesystem::absolute(file);
    };
    std::vector<std::function<std::string()>> steps;
    if (commandLine.ownership) {
        steps.emplace_back([&] {
            running.setOwnership(std::string(rawValue(*commandLine.ownership)));
            return "Fan-control owner: " + std::string(title(*commandLine.ownership));
        });
    }
    if (commandLine.installHelper) {
        steps.emplace_back(
            [&] { return "Helper installation requested; helper: " + running.installHelper(); });
    }
    if (commandLine.importPresets) {
        steps.emplace_back([&] {
            const auto file = absolute(*commandLine.importPresets);
            const auto count = running.importPresets(file);
            return "Imported " + std::to_string(count) + (count == 1 ? " preset" : " presets") + " from " +
                   file.string();
        });
    }
    if (commandLine.exportPresets) {
        steps.emplace_back([&] {
            const auto file = absolute(*commandLine.exportPresets);
            const auto count = running.exportPresets(file);
            return "Exported " + std::to_string(count) + (count == 1 ? " preset" : " presets") + " to " +
                   file.string();
        });
    }
    if (commandLine.runSupervisedTest) {
        steps.emplace_back([&] {
            running.runSupervisedTest();
            return std::string("Supervised fan test requested");
        });
    }
    if (commandLine.preset) {
        steps.emplace_back([&] {
            running.activatePreset(*commandLine.preset);
            return "Preset \"" + *commandLine.preset + "\" requested";
        });
    }
    for (const auto& window : commandLine.openWindows) {
        steps.emplace_back([&] {
            running.open(window);
            return "Opened " + window;
        });
    }

    if (steps.empty()) {
        output << "Quorvane is already running\n";
        return 0;
    }
    for (const auto& step : steps) {
        try {
            output << step() << " in the running Quorvane\n";
        } catch (const AppInstanceError& error) {
            errors << "Quorvane: " << error.what() << "\n";
            return 1;
        }
    }
    return 0;
}

} // namespace quorvane
