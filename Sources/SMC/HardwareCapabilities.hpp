#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quorvane {

struct FanCapability {
    int index = 0;
    bool canReadRPM = false;
    bool canSwitchMode = false;
    bool canSetTarget = false;
    std::optional<std::int64_t> minimumRPM;
    std::optional<std::int64_t> maximumRPM;

    // Mode and target writable, and limits that make sense.
    bool isControllable() const;

    friend bool operator==(const FanCapability&, const FanCapability&) = default;
};

struct HardwareCapabilities {
    std::vector<FanCapability> fans;
    bool hasDiagnosticLock = false;

    std::vector<int> fanIndices() const;
    std::optional<FanCapability> fan(int index) const;
    // The first controllable fan, else the first fan, else none.
    std::optional<int> supervisedFanIndex() const;

    friend bool operator==(const HardwareCapabilities&, const HardwareCapabilities&) = default;
};

} // namespace quorvane
