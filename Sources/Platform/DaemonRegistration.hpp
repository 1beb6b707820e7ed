#pragma once

#include <exception>
#include <functional>

namespace quorvane {

// The system's record of the helper daemon. Status values follow the platform's: 0 not registered,
// 1 enabled, 2 requires approval, 3 not found; anything else is unknown.
class DaemonRegistration {
public:
    // The system's error, or null on success. It may run on any thread, before or after the call
    // that takes it returns.
    using Completion = std::function<void(std::exception_ptr failure)>;

    virtual ~DaemonRegistration() = default;
    // The last known status: it never waits and never starts a process, since every poll reads it.
    virtual int status() = 0;
    // Both may wait on the user (the system asks for an administrator's approval), so neither waits:
    // the completion reports the outcome, after which status() tells the new state.
    virtual void registerDaemon(Completion completion) = 0;
    virtual void unregisterDaemon(Completion completion) = 0;
};

} // namespace quorvane
