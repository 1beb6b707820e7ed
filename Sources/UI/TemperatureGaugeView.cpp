#include "UI/TemperatureGaugeView.hpp"

#include "UI/FanLabels.hpp"
#include "UI/TemperatureGaugeBar.hpp"
#include "UI/TemperatureZone.hpp"

#include <QGridLayout>
#include <QLabel>

namespace quorvane {

TemperatureGaugeView::TemperatureGaugeView(const QString& title, QWidget* parent)
    : QWidget(parent), title_(new QLabel(title, this)), value_(new QLabel(this)),
      bar_(new TemperatureGaugeBar(this)), zone_(new QLabel(this)), preset_(new QLabel(this)) {
    QFont heading = title_->font();
    heading.setBold(true);
    title_->setFont(heading);
    value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    preset_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    preset_->setForegroundRole(QPalette::PlaceholderText);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(title_, 0, 0);
    layout->addWidget(value_, 0, 1);
    layout->addWidget(bar_, 1, 0, 1, 2);
    layout->addWidget(zone_, 2, 0);
    layout->addWidget(preset_, 2, 1);
    setReading(std::nullopt, QString(), 0);
}

void TemperatureGaugeView::setReading(std::optional<double> temperature, const QString& activePresetName,
                                      double samplingInterval) {
    bar_->setTemperature(temperature, samplingInterval);
    const auto shown = bar_->temperature();
    value_->setText(formatCelsius(shown));
    zone_->setText(shown ? TemperatureZone::zone(*shown).name : QString());
    preset_->setText(activePresetName);
}

QString TemperatureGaugeView::zoneText() const {
    return zone_->text();
}

QString TemperatureGaugeView::presetText() const {
    return preset_->text();
}

} // namespace quorvane
