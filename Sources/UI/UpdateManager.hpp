#pragma once

#include "Platform/Updater.hpp"

#include <QString>
#include <functional>

namespace quorvane {

// "Check for Updates…": asks the updater, or says why it cannot.
class UpdateManager {
public:
    // alert(message, informativeText) shows a warning with one "OK" button.
    using Alert = std::function<void(const QString& message, const QString& informativeText)>;

    UpdateManager(Updater& updater, Alert alert);
    void checkForUpdates();

    // A non-modal warning box parented to nothing; it deletes itself when closed.
    static void showWarning(const QString& message, const QString& informativeText);

private:
    Updater& updater_;
    Alert alert_;
};

} // namespace quorvane
