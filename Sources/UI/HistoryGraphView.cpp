#include "UI/HistoryGraphView.hpp"

#include "UI/FanLabels.hpp"
#include "UI/SessionChartMath.hpp"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvane {

namespace {

qreal chartTime(std::chrono::system_clock::time_point date) {
    return static_cast<qreal>(
        std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count());
}

// Downsampled chart points and the range of their values.
struct Plot {
    QList<QPointF> points;
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
};

Plot plot(const std::vector<SessionChartPoint>& series) {
    Plot result;
    const auto thinned = peakPreservingDownsample(series, HistoryGraphView::maximumPlottedPoints);
    result.points.reserve(static_cast<qsizetype>(thinned.size()));
    for (const auto& point : thinned) {
        result.points.append({chartTime(point.date), point.value});
        result.lowest = std::min(result.lowest, point.value);
        result.highest = std::max(result.highest, point.value);
    }
    return result;
}

} // namespace

HistoryGraphView::HistoryGraphView(AppModelAdapter& adapter, QWidget* parent)
    : QWidget(parent), adapter_(adapter), view_(new QChartView(new QChart(), this)), chart_(view_->chart()),
      timeAxis_(new QDateTimeAxis(chart_)), temperatureAxis_(new QValueAxis(chart_)),
      rpmAxis_(new QValueAxis(chart_)), temperature_(new QLineSeries(chart_)) {
    auto* title = new QLabel(QStringLiteral("History"), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);

    // Built with its chart: a view made without one makes a default chart that setChart() would orphan.
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumHeight(180);
    view_->setAccessibleName(QStringLiteral("Fan curve temperature history"));
    view_->setAccessibleDescription(QStringLiteral("Fan curve temperature trend"));
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));

    timeAxis_->setTitleText(QStringLiteral("Time"));
    timeAxis_->setFormat(QStringLiteral("HH:mm"));
    timeAxis_->setTickCount(5);
    temperatureAxis_->setTitleText(QStringLiteral("°C"));
    temperatureAxis_->setLabelFormat(QStringLiteral("%.0f"));
    rpmAxis_->setTitleText(QStringLiteral("RPM"));
    rpmAxis_->setLabelFormat(QStringLiteral("%.0f"));
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(temperatureAxis_, Qt::AlignLeft);
    chart_->addAxis(rpmAxis_, Qt::AlignRight);

    // The legend names the temperature line after what it is: the zone input of the fan curve.
    temperature_->setName(QStringLiteral("Fan zone"));
    chart_->addSeries(temperature_);
    temperature_->attachAxis(timeAxis_);
    temperature_->attachAxis(temperatureAxis_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(title);
    layout->addWidget(view_, 1);

    connect(&adapter_, &AppModelAdapter::changed, this, &HistoryGraphView::refresh);
}

void HistoryGraphView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) {
        redraw();
    }
}

void HistoryGraphView::refresh(const AppModelAdapter::Changes& changes) {
    if (!changes.containsAny({AppModel::Property::history, AppModel::Property::fans})) {
        return;
    }
    stale_ = true;
    if (isVisible()) {
        redraw();
    }
}

void HistoryGraphView::matchFanCount(std::size_t count) {
    while (rpm_.size() > count) {
        chart_->removeSeries(rpm_.back());
        delete rpm_.back();
        rpm_.pop_back();
    }
    while (rpm_.size() < count) {
        auto* series = new QLineSeries(chart_);
        series->setName(QStringLiteral("Fan RPM ") + fanShortLabel(static_cast<int>(rpm_.size())));
        chart_->addSeries(series);
        // Dashed in the colour the theme gave it on adding.
        QPen pen = series->pen();
        pen.setStyle(Qt::DashLine);
        series->setPen(pen);
        series->attachAxis(timeAxis_);
        series->attachAxis(rpmAxis_);
        rpm_.push_back(series);
    }
}

void HistoryGraphView::redraw() {
    stale_ = false;
    const auto& history = adapter_.model().history();

    std::size_t fanCount = adapter_.model().fans().size();
    for (const auto& sample : history) {
        fanCount = std::max(fanCount, sample.rpms.size());
    }
    matchFanCount(fanCount);

    std::vector<SessionChartPoint> temperatures;
    std::vector<std::vector<SessionChartPoint>> speeds(fanCount);
    temperatures.reserve(history.size());
    for (const auto& sample : history) {
        if (std::isfinite(sample.controlTemp)) {
            temperatures.push_back({sample.date, sample.controlTemp});
        }
        for (std::size_t fan = 0; fan < sample.rpms.size(); ++fan) {
            speeds[fan].push_back({sample.date, static_cast<double>(sample.rpms[fan])});
        }
    }

    const Plot temperaturePlot = plot(temperatures);
    temperature_->replace(temperaturePlot.points);
    double rpmHighest = 0;
    for (std::size_t fan = 0; fan < fanCount; ++fan) {
        const Plot speedPlot = plot(speeds[fan]);
        rpm_[fan]->replace(speedPlot.points);
        rpmHighest = std::max(rpmHighest, speedPlot.highest);
    }

    if (history.empty()) {
        return;
    }
    const auto first = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(chartTime(history.front().date)));
    const auto last = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(chartTime(history.back().date)));
    timeAxis_->setRange(first, last > first ? last : first.addSecs(1));
    timeAxis_->setFormat(timeAxisFormat(static_cast<double>(first.secsTo(last))));
    if (!temperaturePlot.points.isEmpty()) {
        temperatureAxis_->setRange(std::floor(temperaturePlot.lowest - 2),
                                   std::ceil(temperaturePlot.highest + 2));
    }
    rpmAxis_->setRange(0, std::max(1000.0, std::ceil(rpmHighest * 1.1 / 100) * 100));
}

} // namespace quorvane
