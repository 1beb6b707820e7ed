#pragma once

#include <QFrame>
#include <QString>

class QLabel;

namespace quorvane {

// A coloured strip with an optional symbol, a line of text and an optional detail line.
class Banner final : public QFrame {
    Q_OBJECT

public:
    enum class Tone { information, warning, critical };

    Banner(Tone tone, const QString& text, const QString& detail = {}, const QString& symbolName = {},
           QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const;

private:
    QLabel* text_;
};

} // namespace quorvane
