#pragma once

#include "Helpers/FanPreset.hpp"

#include <QDialog>
#include <vector>

namespace quorvane {

// The sheet in which a custom preset is changed. It edits a copy; the owner applies it through the
// model when saveRequested arrives and deletes it on deleteRequested. Opened with open(), never exec().
class FanCurveEditor final : public QDialog {
    Q_OBJECT

public:
    FanCurveEditor(FanPreset preset, std::vector<int> fanIndices, QWidget* parent = nullptr);
    const FanPreset& preset() const;

signals:
    void saveRequested(const quorvane::FanPreset& preset);
    void deleteRequested(const quorvane::FanPreset& preset);

    // (the implementation adds what it needs below)
};

} // namespace quorvane
