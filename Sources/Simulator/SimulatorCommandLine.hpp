#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quorvane {

// quorvane-sim's commands: list profiles, probe a machine, serve one on a socket, and control a
// served one. Exit status 0 on success, 1 when something it needs fails (no server, a refusal),
// 2 for a command line it cannot use (unknown command, profile, workload or fault).
class SimulatorCommandLine {
public:
    // `serve` runs until SIGINT or SIGTERM.
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

    static std::string usage();
};

} // namespace quorvane
