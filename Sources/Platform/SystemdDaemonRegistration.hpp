#pragma once

#include "Platform/DaemonRegistration.hpp"
#include "Platform/SystemCommand.hpp"

#include <string>

namespace quorvane {

// The helper daemon as systemd units: the service, and the socket it is started from (the service
// names it with Also=, so enabling or disabling the service does both). Status is read from the
// units' enablement: enabled 1, disabled 0, masked (an administrator must lift it) 2, units not
// installed 3, anything else unknown. systemctl asks polkit for rights where the app lacks them;
// a refusal is the error. unregisterDaemon completes before it returns.
class SystemdDaemonRegistration final : public DaemonRegistration {
public:
    explicit SystemdDaemonRegistration(SystemCommand::Runner run = SystemCommand::run);

    int status() override;
    void registerDaemon() override;
    void unregisterDaemon(std::function<void(std::exception_ptr)> completion) override;

    static std::string serviceUnit();
    static std::string socketUnit();
    static constexpr int unknownStatus = -1;

private:
    // Throws PlatformServiceError with systemctl's own words when it fails.
    void systemctl(const std::vector<std::string>& arguments);

    SystemCommand::Runner run_;
};

} // namespace quorvane
