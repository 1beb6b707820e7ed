#include "UI/ThermalMetricSummary.hpp"

#include <QGridLayout>
#include <QLabel>

namespace quorvane {

namespace {

QString formatMetric(std::optional<double> celsius) {
    return celsius ? QString::asprintf("%.1f °C", *celsius) : QStringLiteral("Unavailable");
}

} // namespace

ThermalMetricSummary::ThermalMetricSummary(AppModelAdapter& adapter, QWidget* parent)
    : QWidget(parent), adapter_(adapter) {
    const QString hotspotNote =
        QStringLiteral("Secondary telemetry; 105 °C triggers the critical fan override");
    struct Definition {
        QString label;
        QString explanation;
        std::function<std::optional<double>(const AppModel&)> value;
    };
    const std::vector<Definition> definitions = {
        {QStringLiteral("CPU all-core average"),
         QStringLiteral("Arithmetic mean of 4 E-core and 12 P-core channels"),
         [](const AppModel& model) {
             return model.cpuCoreAverage();
         }},
        {QStringLiteral("P-core maximum"), QStringLiteral("Hottest mapped performance-core channel"),
         [](const AppModel& model) {
             return model.performanceCoreMaximum();
         }},
        {QStringLiteral("E-core maximum"), QStringLiteral("Hottest mapped efficiency-core channel"),
         [](const AppModel& model) {
             return model.efficiencyCoreMaximum();
         }},
        {QStringLiteral("Maximum GPU cluster"), QStringLiteral("Hottest mapped GPU-cluster channel"),
         [](const AppModel& model) {
             return model.gpuCoreMaximum();
         }},
        {QStringLiteral("CPU die hotspot (TCMz)"), hotspotNote,
         [](const AppModel& model) {
             return model.cpuDieHotspotTemperature();
         }},
        {QStringLiteral("GPU die hotspot (TRDX)"), hotspotNote,
         [](const AppModel& model) {
             return model.gpuDieHotspotTemperature();
         }},
    };

    auto* layout = new QGridLayout(this);
    auto* heading = new QLabel(QStringLiteral("Live sensor comparison"), this);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);
    layout->addWidget(heading, 0, 0, 1, 2);

    int line = 1;
    for (const auto& definition : definitions) {
        auto* label = new QLabel(definition.label, this);
        auto* value = new QLabel(this);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* explanation = new QLabel(definition.explanation, this);
        explanation->setWordWrap(true);
        explanation->setForegroundRole(QPalette::PlaceholderText);
        QFont small = explanation->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        explanation->setFont(small);
        layout->addWidget(label, line, 0);
        layout->addWidget(value, line, 1);
        layout->addWidget(explanation, line + 1, 0, 1, 2);
        line += 2;
        rows_.push_back({definition.label, definition.value, value});
    }
    layout->setColumnStretch(0, 1);

    connect(&adapter_, &AppModelAdapter::changed, this, &ThermalMetricSummary::refresh);
    refresh(AppModelAdapter::Changes::all());
}

void ThermalMetricSummary::refresh(const AppModelAdapter::Changes& changes) {
    using Property = AppModel::Property;
    if (!changes.containsAny({Property::cpuCoreAverage, Property::performanceCoreMaximum,
                              Property::efficiencyCoreMaximum, Property::gpuCoreMaximum,
                              Property::cpuDieHotspotTemperature, Property::gpuDieHotspotTemperature})) {
        return;
    }
    for (const auto& row : rows_) {
        row.valueLabel->setText(formatMetric(row.value(adapter_.model())));
    }
}

QString ThermalMetricSummary::valueText(const QString& rowLabel) const {
    for (const auto& row : rows_) {
        if (row.label == rowLabel) {
            return row.valueLabel->text();
        }
    }
    return {};
}

} // namespace quorvane
