#pragma once

#include "App/AppCommandLine.hpp"
#include "Platform/AppInstanceCommands.hpp"

#include <ostream>

namespace quorvane {

// A second start hands its switches to the Quorvane that runs, in the order the app itself would
// apply them, prints what each did and returns the exit status: 0 when all were done, 1 with the
// running app's sentence at the first refusal, 2 for switches only an app of its own can honour.
int forwardSwitches(const AppCommandLine& commandLine, AppInstanceCommands& running, std::ostream& output,
                    std::ostream& errors);

} // namespace quorvane
