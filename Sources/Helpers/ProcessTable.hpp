#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvane {

// The running processes as the competitor scan needs them. Lookups never throw: a process that
// ended or cannot be inspected simply has no answer.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;
    virtual std::vector<pid_t> processIdentifiers() = 0;
    // The file the process runs. Another user's process (a root daemon, seen from the app) has none.
    virtual std::optional<std::string> executablePath(pid_t process) = 0;
    // What any user may read: the first word of the command line, and the kernel's process name.
    virtual std::optional<std::string> commandName(pid_t process) = 0;
    virtual std::optional<std::string> processName(pid_t process) = 0;
    virtual pid_t ownProcessIdentifier() = 0;
};

} // namespace quorvane
