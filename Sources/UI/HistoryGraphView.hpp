#pragma once

#include "UI/AppModelAdapter.hpp"

#include <QWidget>
#include <cstddef>
#include <vector>

class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace quorvane {

// "History": the fan-curve temperature and each fan's RPM over the session.
class HistoryGraphView final : public QWidget {
    Q_OBJECT

public:
    explicit HistoryGraphView(AppModelAdapter& adapter, QWidget* parent = nullptr);

    // Points drawn per series at most; a twelve-hour session holds 21600 samples.
    static constexpr std::size_t maximumPlottedPoints = 240;

    QChart* chart() const { return chart_; }
    QLineSeries* temperatureSeries() const { return temperature_; }
    const std::vector<QLineSeries*>& rpmSeries() const { return rpm_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh(const AppModelAdapter::Changes& changes);
    void redraw();
    void matchFanCount(std::size_t count);

    AppModelAdapter& adapter_;
    QChartView* view_;
    QChart* chart_;
    QDateTimeAxis* timeAxis_;
    QValueAxis* temperatureAxis_;
    QValueAxis* rpmAxis_;
    QLineSeries* temperature_;
    std::vector<QLineSeries*> rpm_;
    bool stale_ = true;
};

} // namespace quorvane
