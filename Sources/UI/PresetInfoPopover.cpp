#include "UI/PresetInfoPopover.hpp"

#include "UI/Labels.hpp"
#include "UI/ViewTexts.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace quorvane {

PresetInfoPopover::PresetInfoPopover(const FanPreset& preset, QWidget* parent)
    : QFrame(parent, Qt::Popup), description_(presetDescription(preset)) {
    setFrameShape(QFrame::StyledPanel);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* title = headingLabel(QStringLiteral("What does this preset do?"));
    auto* text = new QLabel(description_);
    text->setWordWrap(true);
    text->setFixedWidth(280);
    layout->addWidget(title);
    layout->addWidget(text);
}

QString PresetInfoPopover::description() const {
    return description_;
}

} // namespace quorvane
