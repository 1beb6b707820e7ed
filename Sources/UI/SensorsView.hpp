#pragma once

#include "UI/AppModelAdapter.hpp"

#include <QWidget>

namespace quorvane {

// The "Temperature Sensors" window: every channel, searchable, grouped by key prefix.
class SensorsView final : public QWidget {
    Q_OBJECT

public:
    explicit SensorsView(AppModelAdapter& adapter, QWidget* parent = nullptr);

    // (the implementation adds what it needs below)
};

} // namespace quorvane
