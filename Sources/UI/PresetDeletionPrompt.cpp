#include "UI/PresetDeletionPrompt.hpp"

#include <QPushButton>

namespace quorvane {

void PresetDeletionPrompt::ask(const FanPreset& preset) {
    if (preset.isLocked()) {
        return;
    }
    if (box_) {
        box_->close();
    }
    pending_ = preset.id;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Delete"),
                                QStringLiteral("Delete “%1”?").arg(QString::fromStdString(preset.name)),
                                QMessageBox::NoButton, &parent_);
    box->setInformativeText(warning);
    auto* remove = box->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, &parent_, [this, box, remove, preset] {
        const bool confirmed = box->clickedButton() == remove && pending_ == preset.id;
        pending_.reset();
        if (confirmed) {
            model_.deletePreset(preset);
        }
    });
    box_ = box;
    box->open();
}

} // namespace quorvane
