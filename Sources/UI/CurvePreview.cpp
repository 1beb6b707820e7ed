#include "UI/CurvePreview.hpp"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

// The editor's temperature steppers span 20…100 °C; the axis does too, widened if a stored curve
// lies outside so its ends stay on the canvas.
constexpr double axisLow = 20;
constexpr double axisHigh = 100;

QString wholeDegrees(double celsius) {
    return QString::number(std::llround(celsius));
}

} // namespace

CurvePreview::CurvePreview(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setRange(low_, high_);
}

void CurvePreview::setRange(double low, double high) {
    low_ = low;
    high_ = high;
    setAccessibleDescription(
        QStringLiteral("Fan speed rises linearly from minimum at %1 degrees to maximum at "
                       "%2 degrees")
            .arg(wholeDegrees(low), wholeDegrees(high)));
    update();
}

QSize CurvePreview::sizeHint() const {
    return {320, 150};
}

QSize CurvePreview::minimumSizeHint() const {
    return {220, 150};
}

void CurvePreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics = painter.fontMetrics();
    const int captionWidth = metrics.horizontalAdvance(QStringLiteral("max RPM")) + 8;
    const QRectF plot = QRectF(rect()).adjusted(captionWidth, 8, -12, -(metrics.height() + 8));
    if (plot.width() <= 0 || plot.height() <= 0) {
        return;
    }

    const bool finite = std::isfinite(low_) && std::isfinite(high_);
    const double from = finite ? std::min({axisLow, low_, high_}) : axisLow;
    const double to = finite ? std::max({axisHigh, low_, high_}) : axisHigh;
    auto x = [&](double celsius) {
        return plot.left() + (celsius - from) / (to - from) * plot.width();
    };
    const double bottom = plot.bottom();
    const double top = plot.top();

    const QColor axisColor = palette().color(QPalette::Mid);
    painter.setPen(QPen(axisColor, 1));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());

    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRectF(0, top - metrics.height() / 2.0, captionWidth - 4, metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("max RPM"));
    painter.drawText(QRectF(0, bottom - metrics.height() / 2.0, captionWidth - 4, metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("min RPM"));
    if (!finite) {
        return;
    }

    // A range that does not rise jumps straight to maximum above the ramp start, as the curve does.
    const double lowX = x(low_);
    const double highX = high_ > low_ ? x(high_) : lowX;
    QPainterPath curve(QPointF(plot.left(), bottom));
    curve.lineTo(lowX, bottom);
    curve.lineTo(highX, top);
    curve.lineTo(plot.right(), top);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawPath(curve);

    painter.setPen(QPen(axisColor, 1, Qt::DashLine));
    painter.drawLine(QPointF(lowX, bottom), QPointF(lowX, top));
    painter.drawLine(QPointF(highX, bottom), QPointF(highX, top));

    painter.setPen(palette().color(QPalette::WindowText));
    const QString start = QStringLiteral("ramp start %1").arg(wholeDegrees(low_));
    const QString full = QStringLiteral("full %1").arg(wholeDegrees(high_));
    const double captionTop = bottom + 4;
    // Keep the two captions apart and inside the widget when the temperatures are close.
    const double startWidth = metrics.horizontalAdvance(start);
    const double fullWidth = metrics.horizontalAdvance(full);
    double startLeft = std::max(0.0, lowX - startWidth / 2);
    double fullLeft = std::min(width() - fullWidth, highX - fullWidth / 2);
    if (startLeft + startWidth + 6 > fullLeft) {
        const double middle = (lowX + highX) / 2;
        startLeft = std::max(0.0, middle - startWidth - 3);
        fullLeft = std::min(width() - fullWidth, middle + 3);
    }
    painter.drawText(QPointF(startLeft, captionTop + metrics.ascent()), start);
    painter.drawText(QPointF(fullLeft, captionTop + metrics.ascent()), full);
}

} // namespace quorvane
