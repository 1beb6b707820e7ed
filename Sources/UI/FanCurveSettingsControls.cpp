#include "UI/FanCurveSettingsControls.hpp"

#include "UI/CurvePreview.hpp"
#include "UI/Labels.hpp"
#include "UI/SymbolIcon.hpp"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

namespace quorvane {

namespace {

// Shown for a constant that is not set yet; the editor fills it in before the user sees this.
constexpr int placeholderRPM = 2000;

QSpinBox* temperatureStepper(const QString& name, QWidget* parent) {
    auto* stepper = new QSpinBox(parent);
    stepper->setRange(20, 100);
    stepper->setSingleStep(1);
    stepper->setSuffix(QStringLiteral(" °C"));
    stepper->setAccessibleName(name);
    return stepper;
}

int wholeDegrees(double celsius) {
    return std::isfinite(celsius) ? static_cast<int>(std::lround(celsius)) : 0;
}

} // namespace

FanCurveSettingsControls::FanCurveSettingsControls(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    constantControls_ = new QWidget(this);
    auto* constantLayout = new QFormLayout(constantControls_);
    constantLayout->setContentsMargins(0, 0, 0, 0);
    targetRPM_ = new QSpinBox(constantControls_);
    targetRPM_->setObjectName(QStringLiteral("targetRPM"));
    targetRPM_->setAccessibleName(QStringLiteral("Target RPM"));
    targetRPM_->setRange(1000, 6000);
    targetRPM_->setSingleStep(100);
    targetRPM_->setSuffix(QStringLiteral(" RPM"));
    constantLayout->addRow(QStringLiteral("Target speed"), targetRPM_);
    constantLayout->addRow(noteLabel(
        QStringLiteral("Fans hold this speed, each clamped to its own hardware limits."), constantControls_));
    layout->addWidget(constantControls_);

    curveControls_ = new QWidget(this);
    auto* curveLayout = new QFormLayout(curveControls_);
    curveLayout->setContentsMargins(0, 0, 0, 0);
    rampStart_ = temperatureStepper(QStringLiteral("Ramp start"), curveControls_);
    rampStart_->setObjectName(QStringLiteral("rampStart"));
    fullSpeed_ = temperatureStepper(QStringLiteral("Full speed"), curveControls_);
    fullSpeed_->setObjectName(QStringLiteral("fullSpeed"));
    curveLayout->addRow(QStringLiteral("Ramp start"), rampStart_);
    curveLayout->addRow(QStringLiteral("Full speed"), fullSpeed_);

    warning_ = new QWidget(curveControls_);
    warning_->setObjectName(QStringLiteral("rampWarning"));
    auto* warningLayout = new QHBoxLayout(warning_);
    warningLayout->setContentsMargins(0, 0, 0, 0);
    auto* warningIcon = new QLabel(warning_);
    const int iconSize = fontMetrics().height();
    warningIcon->setPixmap(
        symbolIcon(QStringLiteral("exclamationmark.triangle.fill")).pixmap(iconSize, iconSize));
    warningLayout->addWidget(warningIcon);
    warningLayout->addWidget(new QLabel(QStringLiteral("Full speed must be above ramp start."), warning_), 1);
    curveLayout->addRow(warning_);

    curveLayout->addRow(
        noteLabel(QStringLiteral("Fans idle at their minimum RPM below ramp start, then ramp smoothly "
                                 "to maximum at the full-speed temperature."),
                  curveControls_));
    preview_ = new CurvePreview(curveControls_);
    preview_->setObjectName(QStringLiteral("curvePreview"));
    curveLayout->addRow(preview_);
    layout->addWidget(curveControls_);

    connect(targetRPM_, &QSpinBox::valueChanged, this, [this](int rpm) {
        auto changed = settings_;
        changed.constantRPM = rpm;
        edit(changed);
    });
    connect(rampStart_, &QSpinBox::valueChanged, this, [this](int celsius) {
        auto changed = settings_;
        changed.lowTemperature = celsius;
        edit(changed);
    });
    connect(fullSpeed_, &QSpinBox::valueChanged, this, [this](int celsius) {
        auto changed = settings_;
        changed.highTemperature = celsius;
        edit(changed);
    });

    setStrategy(ControlStrategy::cpuCoreAverage);
    showSettings();
}

void FanCurveSettingsControls::setSettings(const FanCurveSettings& settings) {
    settings_ = settings;
    showSettings();
}

void FanCurveSettingsControls::setStrategy(ControlStrategy strategy) {
    constantControls_->setHidden(strategy != ControlStrategy::constantRPM);
    curveControls_->setHidden(strategy == ControlStrategy::constantRPM);
}

void FanCurveSettingsControls::edit(const FanCurveSettings& settings) {
    settings_ = settings;
    showSettings();
    emit settingsEdited(settings_);
}

void FanCurveSettingsControls::showSettings() {
    const QSignalBlocker blockTarget(targetRPM_);
    const QSignalBlocker blockStart(rampStart_);
    const QSignalBlocker blockFull(fullSpeed_);
    targetRPM_->setValue(settings_.constantRPM ? static_cast<int>(*settings_.constantRPM) : placeholderRPM);
    rampStart_->setValue(wholeDegrees(settings_.lowTemperature));
    fullSpeed_->setValue(wholeDegrees(settings_.highTemperature));
    // A NaN compares false both ways, so it counts as "not above" too.
    warning_->setHidden(settings_.highTemperature > settings_.lowTemperature);
    preview_->setRange(settings_.lowTemperature, settings_.highTemperature);
}

} // namespace quorvane
