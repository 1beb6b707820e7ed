// quorvane-sim: the simulated Mac that stands in for the SMC on this platform.
#include "Simulator/SimulatorCommandLine.hpp"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    return quorvane::SimulatorCommandLine::run(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                               std::cerr);
}
