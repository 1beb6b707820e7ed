#pragma once

#include "Helpers/CompetingFanController.hpp"
#include "Helpers/ProcessTable.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {

// Recognises other fan utilities by the executable path of their running processes.
namespace CompetingFanControllerDetector {

// Which processes count. The app shows every competitor it can see; the helper yields only to one
// that can write fan keys at all (on Linux only root can) and has not exited, so no other user's
// program, and no zombie, can keep the fans on the system's curve.
enum class Scope { everyProcess, rootProcesses };

// Executable-path suffix ("/" + file name) to display name.
const std::vector<std::pair<std::string, std::string>>& knownExecutableSuffixes();

std::optional<std::string> controllerName(const std::string& executablePath);

// The first running competitor, scanning afresh; never throws. Only a process whose kernel name is
// a known file name is looked at further (one small read per process; the executable link of every
// process would cost far more). A process whose executable cannot be read (another user's) is
// reported by its command word when that names the same file, else by its name.
std::optional<CompetingFanController> runningControllerDetails(ProcessTable& processes,
                                                               Scope scope = Scope::everyProcess);

} // namespace CompetingFanControllerDetector

} // namespace quorvane
