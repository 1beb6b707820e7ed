#pragma once

#include "Helpers/FanPreset.hpp"

#include <QFrame>

namespace quorvane {

// "What does this preset do?": a small popup with the preset's description.
class PresetInfoPopover final : public QFrame {
    Q_OBJECT

public:
    explicit PresetInfoPopover(const FanPreset& preset, QWidget* parent = nullptr);
    QString description() const;

private:
    QString description_;
};

} // namespace quorvane
