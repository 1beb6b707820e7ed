#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

namespace quorvane {

class TemperatureGaugeBar;

// A slim gauge for tight places: the zone bar with its boundary temperatures and band words
// written underneath at their positions along the bar.
class CompactTemperatureGauge final : public QWidget {
    Q_OBJECT

public:
    // A text placed along the bar, 0 at its left end and 1 at its right end.
    struct Mark {
        QString text;
        double fraction = 0;
    };

    CompactTemperatureGauge(std::vector<Mark> boundaries, std::vector<Mark> bandWords,
                            QWidget* parent = nullptr);
    // The zone edges ("30°" … "105°") and the zone names at the middle of their bands.
    explicit CompactTemperatureGauge(QWidget* parent = nullptr);

    void setReading(std::optional<double> temperature, double samplingInterval);
    TemperatureGaugeBar* bar() const { return bar_; }

    static std::vector<Mark> zoneBoundaries();
    static std::vector<Mark> zoneWords();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Mark> boundaries_;
    std::vector<Mark> bandWords_;
    TemperatureGaugeBar* bar_;
};

} // namespace quorvane
