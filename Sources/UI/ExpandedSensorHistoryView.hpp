#pragma once

#include "UI/AppModelAdapter.hpp"
#include "UI/SessionChartPoint.hpp"

#include <QString>
#include <QWidget>
#include <cstddef>
#include <vector>

class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QStackedWidget;
class QValueAxis;

namespace quorvane {

// The session chart of any tracked series, with its statistics and description.
class ExpandedSensorHistoryView final : public QWidget {
    Q_OBJECT

public:
    static inline const QString fanControlSignalID = QStringLiteral("__fan_control_signal");

    explicit ExpandedSensorHistoryView(AppModelAdapter& adapter, QWidget* parent = nullptr);
    QString selectedSensorID() const;
    void setSelectedSensorID(const QString& identifier);

signals:
    void collapseRequested();
    void selectedSensorChanged(const QString& identifier);

public:
    struct SensorOption {
        QString id;
        QString name;
        QString unit = QStringLiteral("°C");

        friend bool operator==(const SensorOption&, const SensorOption&) = default;
    };
    using Point = SessionChartPoint;

    static inline const QString cpuCoreAverageID = QStringLiteral("__cpu_core_average");
    static inline const QString gpuAverageID = QStringLiteral("__gpu_average");
    static inline const QString cpuDieHotspotID = QStringLiteral("TCMz");
    // Points drawn at most; statistics use every point.
    static constexpr std::size_t maximumPlottedPoints = 240;

    // The derived series first, then every tracked temperature by key, then the tracked power,
    // voltage and current channels in catalogue order ("Total System Power" first).
    static std::vector<SensorOption> sensorOptions(const AppModel& model);
    // The selected series over the session, oldest first, missing samples left out.
    static std::vector<Point> points(const AppModel& model, const QString& identifier);

    const std::vector<SensorOption>& options() const { return options_; }
    QString heading() const;
    QString description() const;
    // "Peak", "Average" or "Low" as shown ("61.2"), empty while there are no points.
    QString statistic(const QString& label) const;
    // True while fewer than two points make a chart.
    bool isCollecting() const;
    QLineSeries* series() const { return series_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh(const AppModelAdapter::Changes& changes);
    void redraw();
    void updateOptions();
    const SensorOption* selectedOption() const;

    AppModelAdapter& adapter_;
    QString selected_ = fanControlSignalID;
    std::vector<SensorOption> options_;
    QComboBox* picker_;
    QLabel* heading_;
    QLabel* description_;
    QLabel* peak_;
    QLabel* average_;
    QLabel* low_;
    QStackedWidget* pages_;
    QWidget* collecting_;
    QChartView* view_;
    QLineSeries* series_;
    QDateTimeAxis* timeAxis_;
    QValueAxis* valueAxis_;
    bool stale_ = true;
};

} // namespace quorvane
