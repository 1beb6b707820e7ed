#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// A system service (daemon registration, login items) refused or failed a request. what() is the
// message a user sees.
class PlatformServiceError : public std::runtime_error {
public:
    explicit PlatformServiceError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quorvane
