#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// Every refusal of the simulated Mac and its tools: unknown profiles, workloads and faults, bad
// timeline files, a server that cannot be reached. what() is the message a user sees.
class SimulatorError : public std::runtime_error {
public:
    explicit SimulatorError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quorvane
