#include "App/SwitchForwarding.hpp"

#include "Platform/AppInstanceError.hpp"

#include <cstdlib>
#include <functional>
#include <optional>
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
               << (own.size() == 1 ? " needs a Quorvane of its own" : " need a Quorvane of their own")
               << "; one is already running, so quit it first\n";
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
    // Waits for an operation the running app answers once finished; its failure ends the forwarding.
    const auto finishedResult = [](const std::function<void(AppInstanceCommands::Finished)>& start) {
        std::optional<AppInstanceCommands::Outcome> outcome;
        start([&](const AppInstanceCommands::Outcome& answer) { outcome = answer; });
        if (!outcome) {
            throw AppInstanceError("The running Quorvane did not answer.");
        }
        if (outcome->failure) {
            throw AppInstanceError(*outcome->failure);
        }
        return outcome->result;
    };
    if (commandLine.installHelper) {
        steps.emplace_back([&] {
            return "Helper installation requested; helper: " +
                   finishedResult([&](auto finished) { running.installHelper(std::move(finished)); });
        });
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
            finishedResult([&](auto finished) { running.runSupervisedTest(std::move(finished)); });
            return std::string("Supervised fan test passed");
        });
    }
    if (commandLine.preset) {
        steps.emplace_back([&] {
            running.activatePreset(*commandLine.preset);
            return "Preset \"" + *commandLine.preset + "\" requested";
        });
    }
    // The desktop passes a launch's activation token, so the window it opens may come forward.
    std::string activationToken;
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        if (const char* value = std::getenv(name); activationToken.empty() && value != nullptr) {
            activationToken = value;
        }
    }
    for (const auto& window : commandLine.openWindows) {
        steps.emplace_back([&] {
            running.open(window, activationToken);
            return "Opened " + window;
        });
    }

    if (steps.empty()) {
        // A launch from the menu: show the running app rather than nothing at all.
        try {
            running.open("panel", activationToken);
            output << "Opened panel in the running Quorvane\n";
        } catch (const AppInstanceError& error) {
            output << "Quorvane is already running\n";
            errors << "Quorvane: " << error.what() << "\n";
        }
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
