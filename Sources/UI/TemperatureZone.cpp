#include "UI/TemperatureZone.hpp"

#include <cmath>

namespace quorvane {

const std::vector<TemperatureZone>& TemperatureZone::all() {
    static const std::vector<TemperatureZone> zones = {
        {QStringLiteral("cool"), 30, 45, QColor(0x0a, 0x84, 0xff), QStringLiteral("Cool"),
         QStringLiteral("30–45°")},
        {QStringLiteral("normal"), 45, 60, QColor(0x30, 0xd1, 0x58), QStringLiteral("Normal"),
         QStringLiteral("45–60°")},
        {QStringLiteral("warm"), 60, 75, QColor(0xff, 0xd6, 0x0a), QStringLiteral("Warm"),
         QStringLiteral("60–75°")},
        {QStringLiteral("hot"), 75, 90, QColor(0xff, 0x9f, 0x0a), QStringLiteral("Hot"),
         QStringLiteral("75–90°")},
        {QStringLiteral("veryHot"), 90, 105, QColor(0xff, 0x45, 0x3a), QStringLiteral("Very Hot"),
         QStringLiteral("90–105°")},
    };
    return zones;
}

const TemperatureZone& TemperatureZone::zone(double temperature) {
    const auto& zones = all();
    if (std::isnan(temperature)) {
        return zones.front();
    }
    for (const auto& candidate : zones) {
        if (temperature < candidate.upper) {
            return candidate;
        }
    }
    // At or above the top of the scale.
    return zones.back();
}

} // namespace quorvane
