#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

namespace quorvane::testing {

// The first button under `root` showing exactly this text (a doubled "&&" shows as "&"), or null.
template <typename Button = QAbstractButton> Button* findButton(const QWidget& root, const QString& text) {
    for (auto* button : root.findChildren<Button*>()) {
        if (QString(button->text()).replace(QStringLiteral("&&"), QStringLiteral("&")) == text) {
            return button;
        }
    }
    return nullptr;
}

// Whether a label under `root` shows this text and is not hidden within it.
inline bool showsText(const QWidget& root, const QString& text) {
    for (auto* label : root.findChildren<QLabel*>()) {
        if (label->text() == text && label->isVisibleTo(&root)) {
            return true;
        }
    }
    return false;
}

} // namespace quorvane::testing
