#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvane {

// Who a process runs as, and whether it still runs: a zombie has exited and only waits to be reaped.
struct ProcessStatus {
    uid_t realUID = 0;
    uid_t effectiveUID = 0;
    uid_t savedUID = 0;
    bool zombie = false;

    // Root now, or able to become root again at will (a daemon that set its effective id aside).
    bool runsAsRoot() const { return realUID == 0 || effectiveUID == 0 || savedUID == 0; }
};

// The running processes as the competitor scan needs them. Lookups never throw: a process that
// ended or cannot be inspected simply has no answer.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;
    virtual std::vector<pid_t> processIdentifiers() = 0;
    // The file the process runs. Another user's process (a root daemon, seen from the app) has none.
    virtual std::optional<std::string> executablePath(pid_t process) = 0;
    // What any user may read: the first word of the command line, the kernel's process name (the
    // file name it was started from, cut to 15 characters), and its user ids and state.
    virtual std::optional<std::string> commandName(pid_t process) = 0;
    virtual std::optional<std::string> processName(pid_t process) = 0;
    virtual std::optional<ProcessStatus> status(pid_t process) = 0;
    virtual pid_t ownProcessIdentifier() = 0;
};

} // namespace quorvane
