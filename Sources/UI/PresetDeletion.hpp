#pragma once

#include "Helpers/FanPreset.hpp"

#include <QString>
#include <functional>

class QMessageBox;
class QWidget;

namespace quorvane {

// Asks "Delete" / "Cancel" without blocking; `onDelete` runs only for "Delete", `onFinished` always.
// The box deletes itself when closed.
QMessageBox* askToDeletePreset(QWidget* parent, const FanPreset& preset, const QString& warning,
                               std::function<void()> onDelete, std::function<void()> onFinished = {});

} // namespace quorvane
