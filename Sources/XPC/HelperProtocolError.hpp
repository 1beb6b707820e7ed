#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// A frame or message that does not follow the helper protocol. The connection that sent it is closed.
class HelperProtocolError : public std::runtime_error {
public:
    explicit HelperProtocolError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quorvane
