#include "UI/ExpandedSensorHistoryView.hpp"

#include "Helpers/SensorReader.hpp"
#include "UI/SessionChartMath.hpp"
#include "UI/SymbolIcon.hpp"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

qint64 chartTime(std::chrono::system_clock::time_point date) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
}

QLabel* statisticLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QString formatStatistic(double value) {
    return QString::asprintf("%.1f", value);
}

} // namespace

ExpandedSensorHistoryView::ExpandedSensorHistoryView(AppModelAdapter& adapter, QWidget* parent)
    : QWidget(parent), adapter_(adapter), picker_(new QComboBox(this)), heading_(new QLabel(this)),
      description_(new QLabel(this)), peak_(statisticLabel(this)), average_(statisticLabel(this)),
      low_(statisticLabel(this)), pages_(new QStackedWidget(this)), collecting_(new QWidget(pages_)),
      view_(new QChartView(new QChart(), pages_)), series_(new QLineSeries()), timeAxis_(new QDateTimeAxis()),
      valueAxis_(new QValueAxis()) {
    QFont headingFont = heading_->font();
    headingFont.setBold(true);
    heading_->setFont(headingFont);
    description_->setForegroundRole(QPalette::PlaceholderText);
    // The panel is narrow: the description wraps, and the picker takes its own row and shortens
    // long sensor names in its closed state rather than cutting off the chart's header.
    description_->setWordWrap(true);
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    picker_->setMinimumContentsLength(12);
    picker_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto* close = new QToolButton(this);
    close->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill")));
    close->setAutoRaise(true);
    close->setToolTip(QStringLiteral("Collapse session chart"));
    close->setAccessibleName(QStringLiteral("Collapse session chart"));
    close->setObjectName(QStringLiteral("collapseButton"));
    connect(close, &QToolButton::clicked, this, &ExpandedSensorHistoryView::collapseRequested);

    auto* top = new QHBoxLayout();
    top->addWidget(heading_, 1);
    top->addWidget(close, 0, Qt::AlignTop);

    auto* statistics = new QHBoxLayout();
    for (auto [label, value] :
         {std::pair{QStringLiteral("Peak"), peak_}, std::pair{QStringLiteral("Average"), average_},
          std::pair{QStringLiteral("Low"), low_}}) {
        statistics->addWidget(new QLabel(label, this));
        statistics->addWidget(value);
        statistics->addSpacing(12);
    }
    statistics->addStretch();

    auto* collectingTitle = new QLabel(QStringLiteral("Collecting history"), collecting_);
    collectingTitle->setFont(headingFont);
    collectingTitle->setAlignment(Qt::AlignCenter);
    auto* collectingHint =
        new QLabel(QStringLiteral("The chart will appear after another sample."), collecting_);
    collectingHint->setAlignment(Qt::AlignCenter);
    collectingHint->setForegroundRole(QPalette::PlaceholderText);
    auto* collectingLayout = new QVBoxLayout(collecting_);
    collectingLayout->addStretch();
    collectingLayout->addWidget(collectingTitle);
    collectingLayout->addWidget(collectingHint);
    collectingLayout->addStretch();

    // The chart takes the series and axes; the view, built with its chart, owns it (a view made
    // without one makes a default chart that setChart() would orphan).
    auto* chart = view_->chart();
    chart->legend()->hide();
    chart->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_->setFormat(QStringLiteral("HH:mm"));
    timeAxis_->setTickCount(5);
    valueAxis_->setLabelFormat(QStringLiteral("%.0f"));
    valueAxis_->setTitleText(QStringLiteral("°C"));
    chart->addAxis(timeAxis_, Qt::AlignBottom);
    chart->addAxis(valueAxis_, Qt::AlignLeft);
    chart->addSeries(series_);
    series_->attachAxis(timeAxis_);
    series_->attachAxis(valueAxis_);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumHeight(200);

    pages_->addWidget(collecting_);
    pages_->addWidget(view_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(description_);
    layout->addWidget(picker_);
    layout->addLayout(statistics);
    layout->addWidget(pages_, 1);

    connect(picker_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && static_cast<std::size_t>(index) < options_.size()) {
            setSelectedSensorID(options_[static_cast<std::size_t>(index)].id);
        }
    });
    connect(&adapter_, &AppModelAdapter::changed, this, &ExpandedSensorHistoryView::refresh);
    redraw();
}

QString ExpandedSensorHistoryView::selectedSensorID() const {
    return selected_;
}

void ExpandedSensorHistoryView::setSelectedSensorID(const QString& identifier) {
    if (identifier == selected_) {
        return;
    }
    selected_ = identifier;
    redraw();
    emit selectedSensorChanged(selected_);
}

std::vector<ExpandedSensorHistoryView::SensorOption>
ExpandedSensorHistoryView::sensorOptions(const AppModel& model) {
    std::vector<SensorOption> options = {
        {fanControlSignalID, QStringLiteral("Warmest Fan Zone (curve input)")},
        {cpuCoreAverageID, QStringLiteral("CPU Core Average")},
        {gpuAverageID, QStringLiteral("GPU Cluster Average")},
        {cpuDieHotspotID, QStringLiteral("CPU Die Hotspot (TCMz)")},
    };
    for (const auto& [key, series] : model.sensorHistory()) {
        const QString identifier = QString::fromStdString(key);
        if (identifier == cpuDieHotspotID || SensorReader::electricalChannel(key) != nullptr) {
            continue;
        }
        const auto& readings = model.sensorReadings();
        const auto reading =
            std::find_if(readings.begin(), readings.end(),
                         [&](const SensorReading& candidate) { return candidate.keyName == key; });
        options.push_back({identifier, reading != readings.end() && !reading->displayName.empty()
                                           ? QString::fromStdString(reading->displayName)
                                           : identifier});
    }
    for (const auto& channel : SensorReader::electricalChannels) {
        if (model.sensorHistory().contains(std::string(channel.keyName))) {
            const auto text = [](std::string_view view) {
                return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
            };
            options.push_back({text(channel.keyName), text(channel.label), text(channel.unit)});
        }
    }
    return options;
}

std::vector<ExpandedSensorHistoryView::Point> ExpandedSensorHistoryView::points(const AppModel& model,
                                                                                const QString& identifier) {
    const auto& history = model.history();
    std::vector<Point> result;
    result.reserve(history.size());
    auto add = [&](std::chrono::system_clock::time_point date, double value) {
        if (std::isfinite(value)) {
            result.push_back({date, value});
        }
    };
    if (identifier == fanControlSignalID) {
        for (const auto& sample : history) {
            add(sample.date, sample.controlTemp);
        }
    } else if (identifier == cpuCoreAverageID) {
        for (const auto& sample : history) {
            add(sample.date, sample.cpuCoreAverage);
        }
    } else if (identifier == gpuAverageID) {
        for (const auto& sample : history) {
            if (sample.gpuCoreAverage) {
                add(sample.date, *sample.gpuCoreAverage);
            }
        }
    } else if (const auto found = model.sensorHistory().find(identifier.toStdString());
               found != model.sensorHistory().end()) {
        // Series and history are trimmed together, so entry i belongs to sample i.
        const std::size_t count = std::min(found->second.size(), history.size());
        for (std::size_t index = 0; index < count; ++index) {
            add(history[index].date, found->second[index]);
        }
    }
    return result;
}

const ExpandedSensorHistoryView::SensorOption* ExpandedSensorHistoryView::selectedOption() const {
    for (const auto& option : options_) {
        if (option.id == selected_) {
            return &option;
        }
    }
    return nullptr;
}

QString ExpandedSensorHistoryView::heading() const {
    return heading_->text();
}

QString ExpandedSensorHistoryView::description() const {
    return description_->text();
}

QString ExpandedSensorHistoryView::statistic(const QString& label) const {
    if (label == QStringLiteral("Peak")) {
        return peak_->text();
    }
    if (label == QStringLiteral("Average")) {
        return average_->text();
    }
    if (label == QStringLiteral("Low")) {
        return low_->text();
    }
    return {};
}

bool ExpandedSensorHistoryView::isCollecting() const {
    return pages_->currentWidget() == collecting_;
}

void ExpandedSensorHistoryView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) {
        redraw();
    }
}

void ExpandedSensorHistoryView::refresh(const AppModelAdapter::Changes& changes) {
    if (!changes.containsAny({AppModel::Property::history, AppModel::Property::sensorReadings})) {
        return;
    }
    stale_ = true;
    // Hidden, the chart costs nothing until it is shown again.
    if (isVisible()) {
        redraw();
    }
}

void ExpandedSensorHistoryView::updateOptions() {
    auto options = sensorOptions(adapter_.model());
    if (options != options_) {
        options_ = std::move(options);
        const QSignalBlocker blocker(picker_);
        picker_->clear();
        for (const auto& option : options_) {
            picker_->addItem(option.name, option.id);
        }
    }
    const QSignalBlocker blocker(picker_);
    picker_->setCurrentIndex(picker_->findData(selected_));
}

void ExpandedSensorHistoryView::redraw() {
    stale_ = false;
    updateOptions();

    const auto* option = selectedOption();
    const QString name = option ? option->name : selected_;
    valueAxis_->setTitleText(option ? option->unit : QStringLiteral("°C"));
    heading_->setText(selected_ == fanControlSignalID ? QStringLiteral("Warmest Fan Zone") : name);
    const auto shown = points(adapter_.model(), selected_);
    description_->setText(sessionDescription(name, shown));

    if (shown.empty()) {
        for (auto* label : {peak_, average_, low_}) {
            label->clear();
        }
    } else {
        double sum = 0;
        double highest = shown.front().value;
        double lowest = shown.front().value;
        for (const auto& point : shown) {
            sum += point.value;
            highest = std::max(highest, point.value);
            lowest = std::min(lowest, point.value);
        }
        peak_->setText(formatStatistic(highest));
        average_->setText(formatStatistic(sum / static_cast<double>(shown.size())));
        low_->setText(formatStatistic(lowest));
    }

    if (shown.size() < 2) {
        series_->clear();
        pages_->setCurrentWidget(collecting_);
        return;
    }
    pages_->setCurrentWidget(view_);
    const auto thinned = peakPreservingDownsample(shown, maximumPlottedPoints);
    QList<QPointF> chartPoints;
    chartPoints.reserve(static_cast<qsizetype>(thinned.size()));
    double lowest = thinned.front().value;
    double highest = thinned.front().value;
    for (const auto& point : thinned) {
        chartPoints.append({static_cast<qreal>(chartTime(point.date)), point.value});
        lowest = std::min(lowest, point.value);
        highest = std::max(highest, point.value);
    }
    series_->replace(chartPoints);
    const auto first = QDateTime::fromMSecsSinceEpoch(chartTime(thinned.front().date));
    const auto last = QDateTime::fromMSecsSinceEpoch(chartTime(thinned.back().date));
    timeAxis_->setRange(first, last > first ? last : first.addSecs(1));
    timeAxis_->setFormat(timeAxisFormat(static_cast<double>(first.secsTo(last))));
    valueAxis_->setRange(std::floor(lowest - 1), std::ceil(highest + 1));
}

} // namespace quorvane
