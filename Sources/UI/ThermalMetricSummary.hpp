#pragma once

#include "UI/AppModelAdapter.hpp"

#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QLabel;

namespace quorvane {

// "Live sensor comparison": the derived CPU/GPU metrics with their explanations.
class ThermalMetricSummary final : public QWidget {
    Q_OBJECT

public:
    explicit ThermalMetricSummary(AppModelAdapter& adapter, QWidget* parent = nullptr);

    // The value shown in a row, by its label ("CPU all-core average"); empty for an unknown row.
    QString valueText(const QString& rowLabel) const;

private:
    struct Row {
        QString label;
        std::function<std::optional<double>(const AppModel&)> value;
        QLabel* valueLabel = nullptr;
    };

    void refresh(const AppModelAdapter::Changes& changes);

    AppModelAdapter& adapter_;
    std::vector<Row> rows_;
};

} // namespace quorvane
