#pragma once

#include "UI/AppModelAdapter.hpp"

#include <QWidget>

namespace quorvane {

// "Live sensor comparison": the derived CPU/GPU metrics with their explanations.
class ThermalMetricSummary final : public QWidget {
    Q_OBJECT

public:
    explicit ThermalMetricSummary(AppModelAdapter& adapter, QWidget* parent = nullptr);

    // (the implementation adds what it needs below)
};

} // namespace quorvane
