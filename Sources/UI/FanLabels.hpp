#pragma once

#include <QString>
#include <optional>

namespace quorvane {

// How fans are named across the views: "Left Fan (F0)", "Right Fan (F1)", "Fan 2".
QString fanLabel(int index);
// The panel's zone rows: "Left zone", "Right zone", "Fan 2 zone".
QString fanZoneLabel(int index);
// Chart series: "Left", "Right", "Fan 2".
QString fanShortLabel(int index);

// "%.1f °C", or "unavailable".
QString formatCelsius(std::optional<double> celsius, const QString& missing = QStringLiteral("unavailable"));

} // namespace quorvane
