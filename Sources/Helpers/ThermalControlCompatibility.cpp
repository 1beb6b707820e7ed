#include "Helpers/ThermalControlCompatibility.hpp"

namespace quorvane {

const std::set<std::string>& ThermalControlCompatibility::verifiedModelIdentifiers() {
    static const std::set<std::string> identifiers{"Mac15,11"};
    return identifiers;
}

bool ThermalControlCompatibility::allowsControl(const std::string& modelIdentifier,
                                                bool hasValidatedFanZoneTopology) {
    return hasValidatedFanZoneTopology && verifiedModelIdentifiers().contains(modelIdentifier);
}

} // namespace quorvane
