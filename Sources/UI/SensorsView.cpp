#include "UI/SensorsView.hpp"

#include "UI/CompactTemperatureGauge.hpp"
#include "UI/FanLabels.hpp"
#include "UI/SymbolIcon.hpp"
#include "UI/TemperatureGaugeBar.hpp"
#include "UI/ThermalMetricSummary.hpp"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

namespace quorvane {

namespace {

enum Column { nameColumn, keyColumn, valueColumn };

// Volts and amperes move in hundredths; degrees and watts read well to a tenth.
QString formatValue(const SensorReading& reading) {
    const bool fine = reading.unit == "V" || reading.unit == "A";
    return QString::asprintf(fine ? "%.2f " : "%.1f ", reading.value) + QString::fromStdString(reading.unit);
}

} // namespace

SensorsView::SensorsView(AppModelAdapter& adapter, QWidget* parent)
    : QWidget(parent), adapter_(adapter), hottestValue_(new QLabel(this)),
      gauge_(new CompactTemperatureGauge(this)), summary_(new ThermalMetricSummary(adapter, this)),
      search_(new QLineEdit(this)), pages_(new QStackedWidget(this)), emptyState_(new QWidget(pages_)),
      tree_(new QTreeWidget(pages_)) {
    setMinimumSize(450, 520);

    search_->setPlaceholderText(QStringLiteral("Search"));
    search_->setClearButtonEnabled(true);

    tree_->setColumnCount(3);
    tree_->setHeaderLabels({QStringLiteral("Sensor"), QStringLiteral("Key"), QStringLiteral("Value")});
    tree_->header()->setSectionResizeMode(nameColumn, QHeaderView::Stretch);
    tree_->header()->setSectionResizeMode(keyColumn, QHeaderView::ResizeToContents);
    tree_->header()->setSectionResizeMode(valueColumn, QHeaderView::ResizeToContents);
    tree_->header()->setStretchLastSection(false);
    tree_->setUniformRowHeights(true);

    auto* icon = new QLabel(emptyState_);
    icon->setPixmap(symbolIcon(QStringLiteral("thermometer.medium")).pixmap(40, 40));
    icon->setAlignment(Qt::AlignCenter);
    auto* title = new QLabel(QStringLiteral("No Sensor Data"), emptyState_);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignCenter);
    auto* hint = new QLabel(QStringLiteral("Temperature channels appear after the first successful poll."),
                            emptyState_);
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    hint->setForegroundRole(QPalette::PlaceholderText);
    auto* emptyLayout = new QVBoxLayout(emptyState_);
    emptyLayout->addStretch();
    emptyLayout->addWidget(icon);
    emptyLayout->addWidget(title);
    emptyLayout->addWidget(hint);
    emptyLayout->addStretch();

    pages_->addWidget(emptyState_);
    pages_->addWidget(tree_);

    auto* hottest = new QHBoxLayout;
    auto* hottestTitle = new QLabel(QStringLiteral("Hottest Live Sensor"), this);
    QFont bold = hottestTitle->font();
    bold.setBold(true);
    hottestTitle->setFont(bold);
    hottest->addWidget(hottestTitle, 1);
    hottestValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    hottest->addWidget(hottestValue_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(hottest);
    layout->addWidget(gauge_);
    layout->addWidget(summary_);
    layout->addWidget(search_);
    layout->addWidget(pages_, 1);

    connect(search_, &QLineEdit::textChanged, this, &SensorsView::rebuild);
    connect(&adapter_, &AppModelAdapter::changed, this, &SensorsView::refresh);
    rebuild();
    refreshGauge();
}

QSize SensorsView::sizeHint() const {
    return {470, 640};
}

QString SensorsView::groupPrefix(const QString& keyName) {
    return keyName.left(2);
}

SensorsView::Group SensorsView::groupOf(const SensorReading& reading) {
    if (reading.unit == "W") {
        return {1, QStringLiteral("Power")};
    }
    if (reading.unit == "V") {
        return {2, QStringLiteral("Voltage")};
    }
    if (reading.unit == "A") {
        return {3, QStringLiteral("Current")};
    }
    return {0, groupPrefix(QString::fromStdString(reading.keyName))};
}

std::vector<SensorReading> SensorsView::filtered(const std::vector<SensorReading>& readings,
                                                 const QString& search) {
    std::vector<SensorReading> kept;
    for (const auto& reading : readings) {
        if (search.isEmpty() ||
            QString::fromStdString(reading.keyName).contains(search, Qt::CaseInsensitive)) {
            kept.push_back(reading);
        }
    }
    return kept;
}

bool SensorsView::showsEmptyState() const {
    return pages_->currentWidget() == emptyState_;
}

void SensorsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) {
        rebuild();
    }
    refreshGauge();
}

void SensorsView::refreshGauge() {
    const auto& model = adapter_.model();
    gauge_->setReading(model.displayTemperature(), model.pollingInterval());
    hottestValue_->setText(formatCelsius(gauge_->bar()->temperature()));
}

void SensorsView::refresh(const AppModelAdapter::Changes& changes) {
    // A closed window leaves the gauge alone; it catches up when shown.
    if (isVisible() &&
        changes.containsAny({AppModel::Property::displayTemperature, AppModel::Property::pollingInterval})) {
        refreshGauge();
    }
    if (!changes.containsAny({AppModel::Property::sensorReadings, AppModel::Property::electricalReadings})) {
        return;
    }
    stale_ = true;
    // A closed window catches up when it is shown again.
    if (isVisible()) {
        rebuild();
    }
}

void SensorsView::rebuild() {
    stale_ = false;
    auto readings = adapter_.model().sensorReadings();
    const auto& electrical = adapter_.model().electricalReadings();
    readings.insert(readings.end(), electrical.begin(), electrical.end());
    pages_->setCurrentWidget(readings.empty() ? emptyState_ : static_cast<QWidget*>(tree_));

    // Temperature groups in ascending order, then the electrical ones; readings by key inside a group.
    std::map<Group, std::vector<SensorReading>> groups;
    for (auto& reading : filtered(readings, search_->text())) {
        groups[groupOf(reading)].push_back(std::move(reading));
    }
    std::vector<std::string> keys;
    for (auto& [heading, members] : groups) {
        std::stable_sort(members.begin(), members.end(),
                         [](const auto& left, const auto& right) { return left.keyName < right.keyName; });
        for (const auto& reading : members) {
            keys.push_back(reading.keyName);
        }
    }

    if (keys == listedKeys_) {
        std::size_t index = 0;
        for (const auto& [heading, members] : groups) {
            for (const auto& reading : members) {
                listedItems_[index]->setText(nameColumn, QString::fromStdString(reading.displayName));
                listedItems_[index]->setText(valueColumn, formatValue(reading));
                ++index;
            }
        }
        return;
    }

    tree_->clear();
    listedItems_.clear();
    for (const auto& [heading, members] : groups) {
        auto* group = new QTreeWidgetItem(tree_, {heading.name});
        group->setFirstColumnSpanned(true);
        group->setFlags(Qt::ItemIsEnabled);
        QFont bold = group->font(nameColumn);
        bold.setBold(true);
        group->setFont(nameColumn, bold);
        for (const auto& reading : members) {
            auto* item =
                new QTreeWidgetItem(group, {QString::fromStdString(reading.displayName),
                                            QString::fromStdString(reading.keyName), formatValue(reading)});
            item->setTextAlignment(valueColumn, Qt::AlignRight | Qt::AlignVCenter);
            listedItems_.push_back(item);
        }
    }
    tree_->expandAll();
    listedKeys_ = std::move(keys);
}

} // namespace quorvane
