#include "Platform/SMCMachine.hpp"

#include "Platform/HardwareModel.hpp"
#include "Platform/HwmonSMCUserClient.hpp"
#include "Platform/SMCSocketProtocol.hpp"
#include "Platform/SocketSMCUserClient.hpp"

#include <cstdlib>

namespace quorvane {

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::optional<std::string>(value) : std::nullopt;
}

} // namespace

SMCMachine SMCMachine::fromEnvironment() {
    Roots roots;
    roots.socketVariable = environment(SMCSocketProtocol::socketPathVariable);
    if (auto hwmon = environment(hwmonRootVariable)) {
        roots.hwmon = *hwmon;
    }
    if (auto deviceTree = environment(deviceTreeVariable)) {
        roots.deviceTree = *deviceTree;
    }
    return choose(roots);
}

SMCMachine SMCMachine::choose(const Roots& roots) {
    if (roots.socketVariable) {
        return SMCMachine(Kind::simulated, *roots.socketVariable, roots.deviceTree);
    }
    if (auto device = HwmonSMCUserClient::findDevice(roots.hwmon)) {
        return SMCMachine(Kind::hwmon, device->string(), roots.deviceTree);
    }
    // A real Mac whose kernel lacks the driver: a simulated Mac would only pass for it.
    if (auto board = HardwareModel::board(roots.deviceTree.string())) {
        return SMCMachine(Kind::missingDriver, *board, roots.deviceTree, roots.hwmon);
    }
    return SMCMachine(Kind::simulated, SMCSocketProtocol::defaultSocketPath, roots.deviceTree);
}

std::unique_ptr<SMCUserClient> SMCMachine::makeUserClient(bool controlling) const {
    if (kind_ == Kind::hwmon) {
        HwmonSMCUserClient::Options options;
        options.assumeManualUntilWritten = controlling;
        return std::make_unique<HwmonSMCUserClient>(location_, options);
    }
    if (kind_ == Kind::missingDriver) {
        // No such device: the bridge finds no SMC service.
        return std::make_unique<HwmonSMCUserClient>(hwmonRoot_ / HwmonSMCUserClient::driverName);
    }
    return std::make_unique<SocketSMCUserClient>(location_);
}

std::string SMCMachine::description() const {
    if (kind_ == Kind::missingDriver) {
        return "No macsmc_hwmon device on this Apple-silicon Mac (" + location_ +
               "): the kernel's macsmc_hwmon driver reads its SMC, in Fedora Asahi Remix kernels and in "
               "mainline Linux from 6.19 once the board's device tree lists its channels; check with "
               "\"cat /sys/class/hwmon/*/name\".";
    }
    return (kind_ == Kind::hwmon ? std::string(HwmonSMCUserClient::driverName) : "simulated Mac") + " at " +
           location_;
}

std::string SMCMachine::modelIdentifier() const {
    HardwareModel::Sources sources;
    sources.deviceTreePath = deviceTree_.string();
    if (kind_ == Kind::simulated) {
        sources.smcSocketPath = location_;
    } else {
        sources.smcSocketPath.reset();
    }
    return HardwareModel::identifier(sources);
}

} // namespace quorvane
