#include "UI/Banner.hpp"

#include "UI/SymbolIcon.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quorvane {

namespace {

QString toneStyle(Banner::Tone tone) {
    switch (tone) {
    case Banner::Tone::information:
        return QStringLiteral("background:#e8f0fb; border:1px solid #b9cdee; border-radius:6px;");
    case Banner::Tone::warning:
        return QStringLiteral("background:#fdf3e1; border:1px solid #efcf94; border-radius:6px;");
    case Banner::Tone::critical:
        return QStringLiteral("background:#fbe4e1; border:1px solid #e9a59b; border-radius:6px;");
    }
    return {};
}

} // namespace

Banner::Banner(Tone tone, const QString& text, const QString& detail, const QString& symbolName,
               QWidget* parent)
    : QFrame(parent), text_(new QLabel(text)) {
    setObjectName(QStringLiteral("banner"));
    setStyleSheet(QStringLiteral("QFrame#banner{%1} QLabel{background:transparent; border:none;}")
                      .arg(toneStyle(tone)));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 6, 8, 6);
    if (!symbolName.isEmpty()) {
        auto* icon = new QLabel;
        icon->setPixmap(symbolIcon(symbolName).pixmap(16, 16));
        icon->setAlignment(Qt::AlignTop);
        row->addWidget(icon);
    }
    auto* lines = new QVBoxLayout;
    text_->setWordWrap(true);
    QFont bold = text_->font();
    bold.setBold(true);
    text_->setFont(bold);
    lines->addWidget(text_);
    if (!detail.isEmpty()) {
        auto* detailLabel = new QLabel(detail);
        detailLabel->setWordWrap(true);
        lines->addWidget(detailLabel);
    }
    row->addLayout(lines, 1);
    setAccessibleName(text);
}

void Banner::setText(const QString& text) {
    text_->setText(text);
    setAccessibleName(text);
}

QString Banner::text() const {
    return text_->text();
}

} // namespace quorvane
