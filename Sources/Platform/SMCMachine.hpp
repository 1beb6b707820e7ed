#pragma once

#include "SMC/SMCUserClient.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

// Which SMC the app, the helper and the tools talk to: the simulated Mac's socket named by
// QUORVANE_SMC_SOCKET when that is set; else a real Mac's SMC through the macsmc_hwmon driver when
// the kernel has one; else, on an Apple board, none (its description says why); else the simulated
// Mac at its default socket.
class SMCMachine {
public:
    enum class Kind { simulated, hwmon, missingDriver };

    struct Roots {
        std::optional<std::string> socketVariable;
        std::filesystem::path hwmon = "/sys/class/hwmon";
        std::filesystem::path deviceTree = "/proc/device-tree";
    };

    // QUORVANE_SMC_SOCKET, QUORVANE_HWMON_ROOT and QUORVANE_DEVICE_TREE, or the system's paths.
    static SMCMachine fromEnvironment();
    static SMCMachine choose(const Roots& roots);

    Kind kind() const { return kind_; }
    // The simulated Mac's socket, the hwmon device, or the Apple board without one.
    const std::string& location() const { return location_; }
    const std::filesystem::path& deviceTree() const { return deviceTree_; }

    // A controlling transport (the helper's) cannot know what a crashed predecessor left the fans in.
    std::unique_ptr<SMCUserClient> makeUserClient(bool controlling = false) const;
    // What the user is told is in use, e.g. "macsmc_hwmon at /sys/class/hwmon/hwmon2", or why none is.
    std::string description() const;
    std::string modelIdentifier() const;

    static constexpr const char* hwmonRootVariable = "QUORVANE_HWMON_ROOT";
    static constexpr const char* deviceTreeVariable = "QUORVANE_DEVICE_TREE";

private:
    SMCMachine(Kind kind, std::string location, std::filesystem::path deviceTree,
               std::filesystem::path hwmonRoot = {})
        : kind_(kind), location_(std::move(location)), deviceTree_(std::move(deviceTree)),
          hwmonRoot_(std::move(hwmonRoot)) {}

    Kind kind_;
    std::string location_;
    std::filesystem::path deviceTree_;
    std::filesystem::path hwmonRoot_;
};

} // namespace quorvane
