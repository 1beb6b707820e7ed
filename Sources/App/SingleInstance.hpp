#pragma once

#include "App/AppCommandLine.hpp"
#include "Platform/AppInstanceService.hpp"
#include "Platform/InstanceLock.hpp"
#include "Platform/SessionBus.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace quorvane {

// One Quorvane per user. The first start takes the name com.orvalith.quorvane on the session bus and
// the instance lock; a later start hands its switches to it over the bus and ends. Without a session
// bus the lock alone keeps one instance, and a later start says it cannot reach the running one.
class SingleInstance {
public:
    struct Locations {
        // Absent: the user's session bus.
        std::optional<std::string> busAddress;
        std::filesystem::path lockFile;
        // How long a start waits for a running app that is quitting (its fans may take a while to
        // hand back) before it gives up.
        std::chrono::milliseconds quitWait{90000};
    };

    explicit SingleInstance(Locations locations) : locations_(std::move(locations)) {}

    // Absent when this process is now the running instance; else the exit status of this start,
    // after it handed its switches over or said why it could not.
    std::optional<int> start(const AppCommandLine& commandLine, std::ostream& output, std::ostream& errors);

    // The running instance's service; null without a session bus.
    AppInstanceService* service() const { return service_.get(); }

    // After the bus went away: connects again, takes the name back and serves `commands` with the
    // state last published. False when the bus or the name is not to be had yet.
    bool reclaim(AppInstanceCommands& commands);

private:
    Locations locations_;
    std::optional<SessionBus> bus_;
    std::unique_ptr<AppInstanceService> service_;
    std::optional<InstanceLock> lock_;
};

} // namespace quorvane
