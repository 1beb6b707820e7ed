#pragma once

#include "App/AppModel.hpp"
#include "Helpers/UUID.hpp"

#include <QMessageBox>
#include <QPointer>
#include <optional>

namespace quorvane {

// Asks "Delete" / "Cancel" before a preset goes, without blocking, and deletes it through the model
// only on "Delete". One question at a time: asking again closes the earlier one unanswered.
class PresetDeletionPrompt {
public:
    PresetDeletionPrompt(QWidget& parent, AppModel& model) : parent_(parent), model_(model) {}

    void ask(const FanPreset& preset);
    // The open question and the preset it is about (presetPendingDeletion), while one is open.
    QMessageBox* box() const { return box_; }
    std::optional<UUID> pending() const { return pending_; }

    static inline const QString warning =
        QStringLiteral("This cannot be undone. If the preset is active, fans return to Automatic.");

private:
    QWidget& parent_;
    AppModel& model_;
    QPointer<QMessageBox> box_;
    std::optional<UUID> pending_;
};

} // namespace quorvane
