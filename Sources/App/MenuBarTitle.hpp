#pragma once

#include "SMC/FanInfo.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// The status item's text: per-fan curve temperatures (or the hottest sensor) and the fan speeds,
// e.g. "L62° R60° 2.4k·980". Shared by the tray and the headless front end.
std::string menuBarTitle(const std::vector<FanInfo>& fans,
                         const std::map<int, double>& fanControlTemperatures,
                         std::optional<double> displayTemperature);

} // namespace quorvane
