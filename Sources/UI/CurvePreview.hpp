#pragma once

#include <QWidget>

namespace quorvane {

// A sketch of one fan curve: minimum speed up to the ramp start, a straight rise to maximum at the
// full-speed temperature, maximum beyond. It shows the shape only, so the speed axis has no numbers.
class CurvePreview final : public QWidget {
    Q_OBJECT

public:
    explicit CurvePreview(QWidget* parent = nullptr);

    void setRange(double low, double high);
    double low() const { return low_; }
    double high() const { return high_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double low_ = 30;
    double high_ = 50;
};

} // namespace quorvane
