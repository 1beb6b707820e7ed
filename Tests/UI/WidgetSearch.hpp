#pragma once

#include "UI/Banner.hpp"

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

// Whether a label (or another widget with text(), such as a banner) under `root` shows this text and
// is not hidden within it.
template <typename Widget = QLabel> bool showsText(const QWidget& root, const QString& text) {
    for (auto* widget : root.findChildren<Widget*>()) {
        if (widget->text() == text && widget->isVisibleTo(&root)) {
            return true;
        }
    }
    return false;
}

// The child of this type and object name; a missing one ends the test program.
template <typename T> T* child(const QWidget& root, const char* name) {
    auto* found = root.findChild<T*>(QString::fromLatin1(name));
    if (!found) {
        qFatal("no child named %s", name);
    }
    return found;
}

} // namespace quorvane::testing
