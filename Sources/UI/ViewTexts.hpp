#pragma once

#include "Helpers/FanPreset.hpp"

#include <QString>
#include <optional>

namespace quorvane {

// What a preset does, for its info popover.
QString presetDescription(const FanPreset& preset);

// The tooltip of the panel's raw die and hotspot details.
QString rawThermalTooltip(std::optional<double> cpuHotspot, std::optional<double> gpuHotspot,
                          std::optional<double> performanceCoreMaximum);

} // namespace quorvane
