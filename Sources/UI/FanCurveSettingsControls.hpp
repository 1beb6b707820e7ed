#pragma once

#include "Helpers/ControlStrategy.hpp"
#include "Helpers/FanCurveSettings.hpp"

#include <QWidget>

class QLabel;
class QSpinBox;

namespace quorvane {

class CurvePreview;

// The curve or constant-speed controls for one set of fan settings: the shared ones of a linked
// preset, or one fan's own. Only the user's edits are reported; setSettings() is silent.
class FanCurveSettingsControls final : public QWidget {
    Q_OBJECT

public:
    explicit FanCurveSettingsControls(QWidget* parent = nullptr);

    void setSettings(const FanCurveSettings& settings);
    const FanCurveSettings& settings() const { return settings_; }
    void setStrategy(ControlStrategy strategy);

signals:
    void settingsEdited(const quorvane::FanCurveSettings& settings);

private:
    void showSettings();
    void edit(const FanCurveSettings& settings);

    FanCurveSettings settings_;
    QWidget* constantControls_;
    QWidget* curveControls_;
    QSpinBox* targetRPM_;
    QSpinBox* rampStart_;
    QSpinBox* fullSpeed_;
    QWidget* warning_;
    CurvePreview* preview_;
};

} // namespace quorvane
