#include "UI/PresetDeletion.hpp"

#include <QMessageBox>
#include <QPushButton>

namespace quorvane {

QMessageBox* askToDeletePreset(QWidget* parent, const FanPreset& preset, const QString& warning,
                               std::function<void()> onDelete, std::function<void()> onFinished) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Delete"),
                                QStringLiteral("Delete “%1”?").arg(QString::fromStdString(preset.name)),
                                QMessageBox::NoButton, parent);
    box->setInformativeText(warning);
    auto* remove = box->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, remove, onDelete, onFinished] {
        if (box->clickedButton() == remove && onDelete) {
            onDelete();
        }
        if (onFinished) {
            onFinished();
        }
    });
    box->open();
    return box;
}

} // namespace quorvane
