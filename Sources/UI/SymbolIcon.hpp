#pragma once

#include <QIcon>
#include <QString>

namespace quorvane {

// The icon for one of the design's symbol names ("checkmark.circle.fill", "fan", ...): the icon
// theme's freedesktop equivalent when the theme has it, else the bundled drawing.
QIcon symbolIcon(const QString& symbolName);

// The freedesktop icon-theme name standing for a symbol name; empty when the theme has none.
QString freedesktopIconName(const QString& symbolName);

} // namespace quorvane
