#pragma once

#include <QWidget>
#include <optional>

class QVariantAnimation;

namespace quorvane {

// The gauge's bar: the temperature zones side by side, filled up to the reading, with a marker at
// it. The drawn value eases toward each new reading over the sampling interval, so the bar moves
// at the polling cadence instead of jumping; nothing animates while the reading stays put.
class TemperatureGaugeBar final : public QWidget {
    Q_OBJECT
public:
    explicit TemperatureGaugeBar(QWidget* parent = nullptr);

    void setTemperature(std::optional<double> temperature, double samplingInterval);
    std::optional<double> temperature() const { return temperature_; }
    // The value being drawn, somewhere between the previous reading and the current one.
    std::optional<double> displayedTemperature() const { return displayed_; }
    bool isAnimating() const;

    void setBarHeight(int height);
    int barHeight() const { return barHeight_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateAccessibility();

    std::optional<double> temperature_;
    std::optional<double> displayed_;
    // Where the last paint put the marker, as a fraction of the bar.
    double paintedFill_ = 0;
    int barHeight_ = 12;
    QVariantAnimation* animation_;
};

} // namespace quorvane
