#pragma once

#include "Helpers/FanPreset.hpp"
#include "UI/PresetInfoPopover.hpp"

#include <QPointer>
#include <QToolButton>

namespace quorvane {

// The "?" beside a preset: opens its description under the button.
class PresetInfoButton final : public QToolButton {
    Q_OBJECT

public:
    explicit PresetInfoButton(FanPreset preset, QWidget* parent = nullptr);
    // The open popover, or null (showInfo).
    PresetInfoPopover* popover() const { return popover_; }

private:
    void showInfo();

    FanPreset preset_;
    QPointer<PresetInfoPopover> popover_;
};

} // namespace quorvane
