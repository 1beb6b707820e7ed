#pragma once

#include <QLabel>

namespace quorvane {

// A section's title: bold.
QLabel* headingLabel(const QString& text, QWidget* parent = nullptr);
// Explanatory small print: wrapped, in the palette's subdued text colour.
QLabel* noteLabel(const QString& text, QWidget* parent = nullptr);

} // namespace quorvane
