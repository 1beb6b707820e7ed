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

    // The plotted display temperatures, thinned for the sparkline's width.
    const std::vector<double>& plottedValues() const { return values_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<double> values_;
};

} // namespace quorvane
