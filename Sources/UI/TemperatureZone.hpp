#pragma once

#include <QColor>
#include <QString>
#include <vector>

namespace quorvane {

// One coloured band of the temperature gauges, lower bound inclusive.
struct TemperatureZone {
    QString id;
    double lower = 0;
    double upper = 0;
    QColor color;
    QString name;
    QString rangeLabel;

    // Cool, Normal, Warm, Hot and Very Hot, coolest first; together they span the gauge's scale.
    static const std::vector<TemperatureZone>& all();
    // The zone a temperature falls in; readings beyond the scale belong to the outermost zones.
    static const TemperatureZone& zone(double temperature);
};

} // namespace quorvane
