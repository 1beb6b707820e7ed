#pragma once

#include <cstdint>
#include <optional>

namespace quorvane {

enum class FanMode : int { automatic = 0, manual = 1 };

// Accepts the raw values 0 and 1 only.
std::optional<FanMode> fanModeFromRaw(int raw);

// Mode bytes 0 (automatic) and 3 (system) both mean the firmware is in charge.
constexpr bool isSystemManaged(std::uint8_t raw) {
    return raw == 0 || raw == 3;
}

constexpr std::uint8_t rawValue(FanMode mode) {
    return static_cast<std::uint8_t>(mode);
}

} // namespace quorvane
