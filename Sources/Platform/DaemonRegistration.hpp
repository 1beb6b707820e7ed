#pragma once

#include <exception>
#include <functional>

namespace quorvane {

// The system's record of the helper daemon. Status values follow the platform's: 0 not registered,
// 1 enabled, 2 requires approval, 3 not found; anything else is unknown.
class DaemonRegistration {
public:
    virtual ~DaemonRegistration() = default;
    virtual int status() = 0;
    // Throws an exception whose what() is the system's message.
    virtual void registerDaemon() = 0;
    // The completion receives the system's error, or null on success.
    virtual void unregisterDaemon(std::function<void(std::exception_ptr)> completion) = 0;
};

} // namespace quorvane
