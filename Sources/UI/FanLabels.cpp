#include "UI/FanLabels.hpp"

namespace quorvane {

QString fanLabel(int index) {
    switch (index) {
    case 0:
        return QStringLiteral("Left Fan (F0)");
    case 1:
        return QStringLiteral("Right Fan (F1)");
    default:
        return QStringLiteral("Fan %1").arg(index);
    }
}

QString fanZoneLabel(int index) {
    switch (index) {
    case 0:
        return QStringLiteral("Left zone");
    case 1:
        return QStringLiteral("Right zone");
    default:
        return QStringLiteral("Fan %1 zone").arg(index);
    }
}

QString fanShortLabel(int index) {
    switch (index) {
    case 0:
        return QStringLiteral("Left");
    case 1:
        return QStringLiteral("Right");
    default:
        return QStringLiteral("Fan %1").arg(index);
    }
}

QString formatCelsius(std::optional<double> celsius, const QString& missing) {
    if (!celsius) {
        return missing;
    }
    return QString::asprintf("%.1f °C", *celsius);
}

} // namespace quorvane
