#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// A local socket that cannot be set up. what() is the message a user sees.
class SocketError : public std::runtime_error {
public:
    explicit SocketError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quorvane
