#include "SMC/HardwareCapabilities.hpp"

#include <algorithm>

namespace quorvane {

bool FanCapability::isControllable() const {
    return canSwitchMode && canSetTarget && minimumRPM && maximumRPM && *minimumRPM >= 1 &&
           *maximumRPM >= *minimumRPM;
}

std::vector<int> HardwareCapabilities::fanIndices() const {
    std::vector<int> indices;
    indices.reserve(fans.size());
    for (const auto& fan : fans) {
        indices.push_back(fan.index);
    }
    return indices;
}

std::optional<FanCapability> HardwareCapabilities::fan(int index) const {
    auto found =
        std::find_if(fans.begin(), fans.end(), [&](const FanCapability& fan) { return fan.index == index; });
    if (found == fans.end()) {
        return std::nullopt;
    }
    return *found;
}

std::optional<int> HardwareCapabilities::supervisedFanIndex() const {
    auto controllable =
        std::find_if(fans.begin(), fans.end(), [](const FanCapability& fan) { return fan.isControllable(); });
    if (controllable != fans.end()) {
        return controllable->index;
    }
    if (!fans.empty()) {
        return fans.front().index;
    }
    return std::nullopt;
}

} // namespace quorvane
