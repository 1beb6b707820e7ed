#include "UI/PresetInfoButton.hpp"

#include "UI/PresetInfoPopover.hpp"
#include "UI/SymbolIcon.hpp"

namespace quorvane {

PresetInfoButton::PresetInfoButton(FanPreset preset, QWidget* parent)
    : QToolButton(parent), preset_(std::move(preset)) {
    setIcon(symbolIcon(QStringLiteral("questionmark.circle")));
    setAutoRaise(true);
    setToolTip(QStringLiteral("What does this preset do?"));
    setAccessibleName(QStringLiteral("About %1").arg(QString::fromStdString(preset_.name)));
    connect(this, &QToolButton::clicked, this, &PresetInfoButton::showInfo);
}

void PresetInfoButton::showInfo() {
    if (popover_) {
        popover_->close();
        return;
    }
    popover_ = new PresetInfoPopover(preset_, this);
    popover_->move(mapToGlobal(QPoint(0, height())));
    popover_->show();
}

} // namespace quorvane
