#include "UI/ViewTexts.hpp"

#include "UI/FanLabels.hpp"

#include <cmath>

namespace quorvane {

namespace {

QString whole(double celsius) {
    return QString::number(std::llround(celsius));
}

} // namespace

QString presetDescription(const FanPreset& preset) {
    switch (preset.kind) {
    case PresetKind::system:
        return QStringLiteral(
            "Hands fan control back to macOS, exactly as it ships from Apple. Quorvane sends no "
            "commands — use this when you don't need active cooling management.");
    case PresetKind::automatic:
        return QStringLiteral(
            "Performance-biased curve: each fan follows its stable local CPU/GPU airflow zone, "
            "while sustained die heat can raise the minimum target. It reaches full speed by "
            "90 °C, then eases down after a 30-second cooldown.");
    case PresetKind::fullBlast:
        return QStringLiteral(
            "All fans at their hardware maximum. Use for short bursts of heavy load or quick cool-downs.");
    case PresetKind::custom:
        break;
    }
    const QString low = whole(preset.lowTemperature);
    const QString high = whole(preset.highTemperature);
    if (preset.id == FanPreset::batterySaver.id) {
        return QStringLiteral(
                   "Uses each fan's CPU/GPU zone input: minimum RPM through %1 °C and full speed at "
                   "%2 °C. This noise-first curve runs hotter; the 105 °C raw-die safety override "
                   "still forces maximum cooling.")
            .arg(low, high);
    }
    if (preset.strategy == ControlStrategy::constantRPM && preset.constantRPM) {
        return QStringLiteral(
                   "Holds a constant %1 RPM, clamped to each fan's hardware limits — steady airflow "
                   "regardless of temperature.")
            .arg(*preset.constantRPM);
    }
    QString text =
        QStringLiteral("Temperature curve tracking each fan's CPU/GPU zone input: minimum RPM below %1 "
                       "°C, full speed at %2 °C")
            .arg(low, high);
    if (preset.id == FanPreset::cpuCoreDefault.id) {
        return text + QStringLiteral(
                          " — an aggressive cooling curve that will often run near maximum on a warm Mac.");
    }
    return text + QStringLiteral(".");
}

QString rawThermalTooltip(std::optional<double> cpuHotspot, std::optional<double> gpuHotspot,
                          std::optional<double> performanceCoreMaximum) {
    return QStringLiteral(
               "Secondary raw values — CPU hotspot: %1, GPU hotspot: %2, P-core max: %3. Raw hotspots do "
               "not drive normal curves, but 105 °C triggers the critical safety override.")
        .arg(formatCelsius(cpuHotspot), formatCelsius(gpuHotspot), formatCelsius(performanceCoreMaximum));
}

} // namespace quorvane
