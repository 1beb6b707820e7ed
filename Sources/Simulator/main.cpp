// quorvane-sim: the simulated Mac that stands in for the SMC on this platform.
#include "Helpers/Clock.hpp"
#include "SMC/FanController.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "SMC/SMCError.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

using namespace quorvane;

namespace {

constexpr const char* usage = "usage: quorvane-sim profiles\n"
                              "       quorvane-sim probe [--profile NAME]\n";

int listProfiles() {
    for (const auto& profile : SMCProfiles::all()) {
        std::cout << profile.name << "\t" << profile.description << "\n";
    }
    return 0;
}

std::string modeText(SMCInterface& smc, int index) {
    try {
        if (auto byte = smc.readKey(SMCKey::fan(index, "Md")).asUInt8()) {
            switch (*byte) {
            case 0:
                return "automatic (0)";
            case 1:
                return "manual (1)";
            case 3:
                return "system (3)";
            default:
                return "unknown (" + std::to_string(*byte) + ")";
            }
        }
    } catch (const SMCError& error) {
        return std::string("unreadable: ") + error.what();
    }
    return "not a byte";
}

std::string optionalRPM(const std::optional<std::int64_t>& rpm) {
    return rpm ? std::to_string(*rpm) : std::string("unreadable");
}

// Prints what the capability probe and the fan controller see, through a read-only bridge, as the
// app would.
int probe(const std::string& profileName) {
    auto profile = SMCProfiles::named(profileName);
    if (!profile) {
        std::cerr << "quorvane-sim: unknown profile \"" << profileName << "\" (see quorvane-sim profiles)\n";
        return 2;
    }
    SimulatedAppleSMC firmware(*profile, SteadyClock::shared());
    auto bridge = std::make_shared<IOKitSMCBridge>(firmware.makeUserClient(false));
    try {
        bridge->open();
        FanController controller(bridge);
        const auto& capabilities = controller.probeCapabilities();

        std::cout << "Simulated Mac " << profile->modelIdentifier << ": " << profile->description << "\n";
        std::cout << "SMC keys: " << bridge->getKeyCount() << "\n";
        std::cout << "Diagnostic lock (Ftst): " << (capabilities.hasDiagnosticLock ? "present" : "absent")
                  << "\n";
        std::cout << "Fans: " << capabilities.fans.size() << "\n";
        if (auto supervised = capabilities.supervisedFanIndex()) {
            std::cout << "Supervised fan: " << *supervised << "\n";
        }
        for (const auto& fan : capabilities.fans) {
            std::cout << "Fan " << fan.index << ": "
                      << (fan.isControllable() ? "controllable" : "not controllable") << " (read "
                      << (fan.canReadRPM ? "yes" : "no") << ", mode " << (fan.canSwitchMode ? "yes" : "no")
                      << ", target " << (fan.canSetTarget ? "yes" : "no") << "), limits "
                      << optionalRPM(fan.minimumRPM) << "..." << optionalRPM(fan.maximumRPM) << " RPM\n";
            try {
                const FanInfo info = controller.getFanInfo(fan.index);
                std::cout << "  actual " << info.actualRPM << " RPM, min " << info.minRPM << ", max "
                          << info.maxRPM << ", mode "
                          << (info.mode == FanMode::manual ? "manual" : "automatic") << " (key "
                          << modeText(*bridge, fan.index) << "), target " << optionalRPM(info.targetRPM)
                          << " RPM\n";
            } catch (const SMCError& error) {
                std::cout << "  " << error.what() << "\n";
            }
        }
    } catch (const SMCError& error) {
        std::cerr << "quorvane-sim: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << usage;
        return 2;
    }
    if (args[0] == "profiles" && args.size() == 1) {
        return listProfiles();
    }
    if (args[0] == "probe") {
        std::string profile = "Mac15,11";
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--profile" && i + 1 < args.size()) {
                profile = args[++i];
            } else {
                std::cerr << "quorvane-sim: unknown argument \"" << args[i] << "\"\n" << usage;
                return 2;
            }
        }
        return probe(profile);
    }
    std::cerr << "quorvane-sim: unknown command \"" << args[0] << "\"\n" << usage;
    return 2;
}
