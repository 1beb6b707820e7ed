#pragma once

#include <string>

namespace quorvane {

// The helper daemon's registration state; the text is what the user sees.
enum class HelperInstallState { notRegistered, enabled, requiresApproval, notFound, unknown };

inline std::string rawValue(HelperInstallState state) {
    switch (state) {
    case HelperInstallState::notRegistered:
        return "Not installed";
    case HelperInstallState::enabled:
        return "Approved";
    case HelperInstallState::requiresApproval:
        return "Approval required";
    case HelperInstallState::notFound:
        return "Not set up";
    case HelperInstallState::unknown:
        return "Unknown";
    }
    return "Unknown";
}

// From the system's daemon status: 0 not registered, 1 enabled, 2 requires approval, 3 not found.
inline HelperInstallState helperInstallStateFromStatus(int status) {
    switch (status) {
    case 0:
        return HelperInstallState::notRegistered;
    case 1:
        return HelperInstallState::enabled;
    case 2:
        return HelperInstallState::requiresApproval;
    case 3:
        return HelperInstallState::notFound;
    default:
        return HelperInstallState::unknown;
    }
}

} // namespace quorvane
