#include "App/SingleInstance.hpp"

#include "App/SwitchForwarding.hpp"
#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/AppInstanceError.hpp"
#include "Platform/AppInstanceRemote.hpp"

#include <thread>

namespace quorvane {

namespace {

const Logger logger(AppBundleIdentifier, "Setup");

} // namespace

std::optional<int> SingleInstance::start(const AppCommandLine& commandLine, std::ostream& output,
                                         std::ostream& errors) {
    std::string failure;
    bus_ = SessionBus::connect(locations_.busAddress, failure);
    if (bus_) {
        try {
            service_ = AppInstanceService::claim(*bus_);
            if (!service_) {
                AppInstanceRemote running(*bus_);
                return forwardSwitches(commandLine, running, output, errors);
            }
        } catch (const AppInstanceError& error) {
            logger.error(std::string(error.what()) + " Scripts cannot reach this Quorvane.");
        }
    }

    std::optional<pid_t> holder;
    try {
        lock_ = InstanceLock::take(locations_.lockFile, holder);
        if (!lock_ && service_) {
            // The name was free but the lock is not: the running app gave up its name because it is
            // quitting. Once its fans are back with the system, this start goes on.
            errors << "Quorvane: the running Quorvane is quitting; starting once it has finished\n";
            const auto end = std::chrono::steady_clock::now() + locations_.quitWait;
            while (!lock_ && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                lock_ = InstanceLock::take(locations_.lockFile, holder);
            }
        }
    } catch (const AppInstanceError& error) {
        logger.error(std::string(error.what()) + " Another Quorvane would not be noticed.");
        return std::nullopt;
    }
    if (!lock_) {
        errors << "Quorvane: another Quorvane is running"
               << (holder ? " (process " + std::to_string(*holder) + ")" : std::string())
               << " and cannot be reached " << (bus_ ? "on the session bus" : "without a session bus")
               << "; quit it first\n";
        service_.reset();
        return 1;
    }
    if (!bus_) {
        logger.info("no session bus (" + failure + "); one Quorvane is kept by " +
                    locations_.lockFile.string());
    }
    return std::nullopt;
}

bool SingleInstance::reclaim(AppInstanceCommands& commands) {
    std::string failure;
    auto bus = SessionBus::connect(locations_.busAddress, failure);
    if (!bus) {
        return false;
    }
    const AppInstanceState state = service_ ? service_->state() : AppInstanceState{};
    service_.reset();
    bus_ = std::move(bus);
    try {
        service_ = AppInstanceService::claim(*bus_);
    } catch (const AppInstanceError& error) {
        logger.error(error.what());
    }
    if (!service_) {
        return false;
    }
    service_->attach(commands);
    service_->publish(state);
    return true;
}

} // namespace quorvane
