#pragma once

#include <set>
#include <string>

namespace quorvane {

// Where automatic fan control may run: only on a model whose sensor and fan layout has been checked,
// and only while the sensors still match that layout.
class ThermalControlCompatibility {
public:
    ThermalControlCompatibility() = delete;

    static const std::set<std::string>& verifiedModelIdentifiers();
    static bool allowsControl(const std::string& modelIdentifier, bool hasValidatedFanZoneTopology);
};

} // namespace quorvane
