// quorvane-sim: the simulated Mac that stands in for the SMC on this platform.
#include "Simulator/SimulatorCommandLine.hpp"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "quorvane-sim " QUORVANE_VERSION "\n";
        return 0;
    }
    return quorvane::SimulatorCommandLine::run(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                               std::cerr);
}
