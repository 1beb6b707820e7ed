#include "UI/CompactTemperatureGauge.hpp"

#include "Helpers/TemperatureGaugeScale.hpp"
#include "UI/TemperatureGaugeBar.hpp"
#include "UI/TemperatureZone.hpp"

#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

namespace quorvane {

namespace {

QFont smallFont(QFont font) {
    font.setPointSizeF(font.pointSizeF() * 0.8);
    return font;
}

} // namespace

CompactTemperatureGauge::CompactTemperatureGauge(std::vector<Mark> boundaries, std::vector<Mark> bandWords,
                                                 QWidget* parent)
    : QWidget(parent), boundaries_(std::move(boundaries)), bandWords_(std::move(bandWords)),
      bar_(new TemperatureGaugeBar(this)) {
    bar_->setBarHeight(8);
    // Room under the bar for one line of boundaries and one of words; paintEvent fills it.
    const int line = QFontMetrics(smallFont(font())).height();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, (boundaries_.empty() ? 0 : line) + (bandWords_.empty() ? 0 : line));
    layout->addWidget(bar_);
}

CompactTemperatureGauge::CompactTemperatureGauge(QWidget* parent)
    : CompactTemperatureGauge(zoneBoundaries(), zoneWords(), parent) {}

void CompactTemperatureGauge::setReading(std::optional<double> temperature, double samplingInterval) {
    bar_->setTemperature(temperature, samplingInterval);
}

std::vector<CompactTemperatureGauge::Mark> CompactTemperatureGauge::zoneBoundaries() {
    std::vector<Mark> marks;
    for (const auto& zone : TemperatureZone::all()) {
        marks.push_back({QStringLiteral("%1°").arg(zone.lower), TemperatureGaugeScale::fraction(zone.lower)});
    }
    const double top = TemperatureZone::all().back().upper;
    marks.push_back({QStringLiteral("%1°").arg(top), TemperatureGaugeScale::fraction(top)});
    return marks;
}

std::vector<CompactTemperatureGauge::Mark> CompactTemperatureGauge::zoneWords() {
    std::vector<Mark> marks;
    for (const auto& zone : TemperatureZone::all()) {
        marks.push_back({zone.name, TemperatureGaugeScale::fraction((zone.lower + zone.upper) / 2)});
    }
    return marks;
}

void CompactTemperatureGauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(smallFont(font()));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const QFontMetrics metrics = painter.fontMetrics();
    const QRect barArea = bar_->geometry();

    // Each text is centred on its position but kept inside the widget at both ends.
    auto drawRow = [&](const std::vector<Mark>& marks, int top) {
        for (const auto& mark : marks) {
            const int width = metrics.horizontalAdvance(mark.text);
            const int centre = barArea.left() + static_cast<int>(mark.fraction * barArea.width());
            const int left = std::clamp(centre - width / 2, 0, std::max(0, this->width() - width));
            painter.drawText(QRect(left, top, width, metrics.height()), Qt::AlignCenter, mark.text);
        }
    };
    int top = barArea.bottom() + 1;
    if (!boundaries_.empty()) {
        drawRow(boundaries_, top);
        top += metrics.height();
    }
    drawRow(bandWords_, top);
}

} // namespace quorvane
