#include "UI/MenuBarSparkline.hpp"

#include "UI/SessionChartMath.hpp"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

// More points than a panel-wide sparkline has pixels would only cost time.
constexpr std::size_t maximumPlottedPoints = 160;

} // namespace

MenuBarSparkline::MenuBarSparkline(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumHeight(24);
}

void MenuBarSparkline::setSamples(const std::vector<HistorySample>& samples) {
    std::vector<SessionChartPoint> points;
    points.reserve(samples.size());
    for (const auto& sample : samples) {
        if (std::isfinite(sample.cpuTemp)) {
            points.push_back({sample.date, sample.cpuTemp});
        }
    }
    std::vector<double> values;
    values.reserve(std::min(points.size(), maximumPlottedPoints));
    for (const auto& point : peakPreservingDownsample(points, maximumPlottedPoints)) {
        values.push_back(point.value);
    }
    if (values == values_) {
        return;
    }
    values_ = std::move(values);
    update();
}

QSize MenuBarSparkline::sizeHint() const {
    return {240, 36};
}

void MenuBarSparkline::paintEvent(QPaintEvent*) {
    if (values_.size() < 2) {
        return;
    }
    const auto [lowest, highest] = std::minmax_element(values_.begin(), values_.end());
    const double range = *highest - *lowest;
    const QRectF area = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const double step = area.width() / static_cast<double>(values_.size() - 1);

    QPainterPath path;
    for (std::size_t index = 0; index < values_.size(); ++index) {
        // A flat series sits in the middle rather than on an edge.
        const double level = range > 0 ? (values_[index] - *lowest) / range : 0.5;
        const QPointF point(area.left() + step * static_cast<double>(index),
                            area.bottom() - level * area.height());
        if (index == 0) {
            path.moveTo(point);
        } else {
            path.lineTo(point);
        }
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(
        QPen(palette().color(QPalette::Highlight), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
}

} // namespace quorvane
