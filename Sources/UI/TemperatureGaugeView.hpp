#pragma once

#include <QString>
#include <QWidget>
#include <optional>

class QLabel;

namespace quorvane {

class TemperatureGaugeBar;

// The hottest-sensor gauge: a title, a bar over the temperature zones with the current value
// marked, the zone's name and the active preset's name. Its owner feeds it on every model change.
class TemperatureGaugeView final : public QWidget {
    Q_OBJECT

public:
    explicit TemperatureGaugeView(const QString& title, QWidget* parent = nullptr);

    // The bar eases to a new value over the sampling interval (seconds), the polling cadence.
    void setReading(std::optional<double> temperature, const QString& activePresetName,
                    double samplingInterval);

    TemperatureGaugeBar* bar() const { return bar_; }
    // The zone's name ("Normal"), or empty without a reading.
    QString zoneText() const;
    QString presetText() const;

private:
    QLabel* title_;
    QLabel* value_;
    TemperatureGaugeBar* bar_;
    QLabel* zone_;
    QLabel* preset_;
};

} // namespace quorvane
