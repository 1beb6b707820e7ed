#pragma once

#include "App/HistorySample.hpp"

#include <QWidget>
#include <vector>

namespace quorvane {

// The panel's small line chart of the session history; drawn from two samples on.
class MenuBarSparkline final : public QWidget {
    Q_OBJECT

public:
    explicit MenuBarSparkline(QWidget* parent = nullptr);
    void setSamples(const std::vector<HistorySample>& samples);

    // (the implementation adds what it needs below)
};

} // namespace quorvane
