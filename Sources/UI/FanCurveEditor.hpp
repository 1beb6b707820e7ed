#pragma once

#include "Helpers/FanPreset.hpp"

#include <QDialog>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class QVBoxLayout;

namespace quorvane {

class FanCurveSettingsControls;

// The sheet in which a custom preset is changed. It edits a copy; the owner applies it through the
// model when saveRequested arrives and closes the sheet once saved; deleteRequested closes it at once.
// Opened with open(), never exec().
class FanCurveEditor final : public QDialog {
    Q_OBJECT

public:
    FanCurveEditor(FanPreset preset, std::vector<int> fanIndices, QWidget* parent = nullptr);
    const FanPreset& preset() const;
    // The model's reason a save was refused, shown above the buttons; none hides it.
    void showError(const std::optional<QString>& text);
    QString errorText() const;

signals:
    void saveRequested(const quorvane::FanPreset& preset);
    void deleteRequested(const quorvane::FanPreset& preset);

private:
    struct FanSection {
        int index;
        QWidget* box;
        FanCurveSettingsControls* controls;
    };

    void buildFanSections(QVBoxLayout* layout);
    void setStrategy(ControlStrategy strategy);
    void setLinked(bool linked);
    void fillAbsentConstants();
    void refresh();
    void confirmDelete();
    // The preset's own storage for one fan, absent for fans it has no slot for.
    std::optional<FanCurveSettings>* fanSlot(int index);

    FanPreset preset_;
    std::vector<int> fanIndices_;
    QLineEdit* name_;
    QComboBox* controlSource_;
    QCheckBox* linkFans_;
    QLabel* linkNote_;
    FanCurveSettingsControls* shared_;
    std::vector<FanSection> fanSections_;
    QWidget* hysteresisRow_;
    QSlider* hysteresis_;
    QLabel* hysteresisValue_;
    QLabel* error_;
};

} // namespace quorvane
