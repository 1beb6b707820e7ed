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

// Executable-path suffix ("/" + file name) to display name.
const std::vector<std::pair<std::string, std::string>>& knownExecutableSuffixes();

std::optional<std::string> controllerName(const std::string& executablePath);

// The first running competitor, scanning afresh; never throws. A process whose executable cannot
// be read (another user's) is matched by its command word's file name, then by its process name.
std::optional<CompetingFanController> runningControllerDetails(ProcessTable& processes);

} // namespace CompetingFanControllerDetector

} // namespace quorvane
