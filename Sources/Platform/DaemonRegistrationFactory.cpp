#include "Platform/DaemonRegistrationFactory.hpp"

#include "Platform/LocalDaemonRegistration.hpp"
#include "Platform/SystemdDaemonRegistration.hpp"

#include <system_error>

namespace quorvane {

std::unique_ptr<DaemonRegistration> makeDaemonRegistration(const std::filesystem::path& systemdRuntime) {
    std::error_code error;
    if (std::filesystem::is_directory(systemdRuntime, error)) {
        return std::make_unique<SystemdDaemonRegistration>();
    }
    return std::make_unique<LocalDaemonRegistration>(LocalDaemonRegistration::defaultRecord());
}

} // namespace quorvane
