#include "UI/TemperatureGaugeBar.hpp"

#include "Helpers/TemperatureGaugeScale.hpp"
#include "UI/TemperatureZone.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <cmath>

namespace quorvane {

namespace {

// Room above and below the bar for the marker's overhang.
constexpr int markerOverhang = 3;

} // namespace

TemperatureGaugeBar::TemperatureGaugeBar(QWidget* parent)
    : QWidget(parent), animation_(new QVariantAnimation(this)) {
    setAccessibleName(QStringLiteral("Hottest sensor temperature gauge"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    animation_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        displayed_ = value.toDouble();
        // The easing ticks at the screen's rate; most ticks move the marker by less than a pixel.
        if (std::abs(TemperatureGaugeScale::fraction(*displayed_) - paintedFill_) * width() >= 0.5) {
            update();
        }
    });
    connect(animation_, &QVariantAnimation::finished, this, qOverload<>(&QWidget::update));
    updateAccessibility();
}

void TemperatureGaugeBar::setTemperature(std::optional<double> temperature, double samplingInterval) {
    if (temperature && !std::isfinite(*temperature)) {
        temperature = std::nullopt;
    }
    if (temperature == temperature_) {
        return;
    }
    temperature_ = temperature;
    updateAccessibility();

    // A first reading, a lost one, or a bar nobody sees takes the new value at once.
    if (!temperature || !displayed_ || !isVisible() || samplingInterval <= 0) {
        animation_->stop();
        displayed_ = temperature;
        update();
        return;
    }
    animation_->stop();
    animation_->setStartValue(*displayed_);
    animation_->setEndValue(*temperature);
    animation_->setDuration(static_cast<int>(std::lround(samplingInterval * 1000)));
    animation_->start();
}

bool TemperatureGaugeBar::isAnimating() const {
    return animation_->state() == QAbstractAnimation::Running;
}

void TemperatureGaugeBar::setBarHeight(int height) {
    if (height == barHeight_ || height <= 0) {
        return;
    }
    barHeight_ = height;
    updateGeometry();
    update();
}

QSize TemperatureGaugeBar::sizeHint() const {
    return {240, barHeight_ + 2 * markerOverhang};
}

QSize TemperatureGaugeBar::minimumSizeHint() const {
    return {80, barHeight_ + 2 * markerOverhang};
}

void TemperatureGaugeBar::updateAccessibility() {
    setAccessibleDescription(temperature_ ? QString::asprintf("%.1f degrees Celsius", *temperature_)
                                          : QStringLiteral("unavailable"));
}

void TemperatureGaugeBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF bar(0.5, markerOverhang + 0.5, width() - 1.0, barHeight_ - 1.0);
    const double radius = bar.height() / 2;
    QPainterPath outline;
    outline.addRoundedRect(bar, radius, radius);

    // Zones at low strength as the track, then full strength up to the reading.
    const double fill = displayed_ ? TemperatureGaugeScale::fraction(*displayed_) : 0.0;
    paintedFill_ = fill;
    painter.save();
    painter.setClipPath(outline);
    for (const auto& zone : TemperatureZone::all()) {
        const double from = TemperatureGaugeScale::fraction(zone.lower);
        const double to = TemperatureGaugeScale::fraction(zone.upper);
        const QRectF band(bar.left() + from * bar.width(), bar.top(), (to - from) * bar.width(),
                          bar.height());
        QColor faint = zone.color;
        faint.setAlphaF(0.25);
        painter.fillRect(band, faint);
        if (fill > from) {
            QRectF filled = band;
            filled.setRight(bar.left() + std::min(fill, to) * bar.width());
            painter.fillRect(filled, zone.color);
        }
    }
    painter.restore();

    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);

    if (!displayed_) {
        return;
    }
    const double x = bar.left() + fill * bar.width();
    const QRectF marker(x - 2, 0.5, 4, height() - 1.0);
    painter.setPen(QPen(palette().color(QPalette::Base), 1));
    painter.setBrush(palette().color(QPalette::Text));
    painter.drawRoundedRect(marker, 2, 2);
}

} // namespace quorvane
