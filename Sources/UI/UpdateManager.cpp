#include "UI/UpdateManager.hpp"

#include <QMessageBox>

namespace quorvane {

UpdateManager::UpdateManager(Updater& updater, Alert alert) : updater_(updater), alert_(std::move(alert)) {
    updater_.start();
}

void UpdateManager::checkForUpdates() {
    if (!updater_.canCheckForUpdates()) {
        alert_(
            QStringLiteral("Unable to Check for Updates"),
            QStringLiteral("Quorvane's updater is not ready. Check your internet connection and try again."));
        return;
    }
    updater_.checkForUpdates();
}

void UpdateManager::showWarning(const QString& message, const QString& informativeText) {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Quorvane"), message, QMessageBox::Ok);
    box->setInformativeText(informativeText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace quorvane
