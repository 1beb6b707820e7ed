#include "UI/FanCard.hpp"

#include "UI/FanLabels.hpp"

#include <QGridLayout>
#include <QLabel>

namespace quorvane {

FanCard::FanCard(QWidget* parent)
    : QFrame(parent), title_(new QLabel), speed_(new QLabel), target_(new QLabel), mode_(new QLabel),
      bounds_(new QLabel), curve_(new QLabel) {
    setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(this);
    QFont heading = title_->font();
    heading.setBold(true);
    title_->setFont(heading);
    QFont large = speed_->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    large.setBold(true);
    speed_->setFont(large);
    grid->addWidget(title_, 0, 0);
    grid->addWidget(mode_, 0, 1, Qt::AlignRight);
    grid->addWidget(speed_, 1, 0, 1, 2);
    grid->addWidget(target_, 2, 0);
    grid->addWidget(bounds_, 2, 1, Qt::AlignRight);
    grid->addWidget(curve_, 3, 0, 1, 2);
}

void FanCard::setFan(const FanInfo& fan, std::optional<double> curveTemperature,
                     std::optional<std::string> curveDriver) {
    title_->setText(fanLabel(fan.index));
    speed_->setText(QStringLiteral("%1 RPM").arg(fan.actualRPM));
    const bool manual = fan.mode == FanMode::manual;
    target_->setVisible(manual && fan.targetRPM.has_value());
    if (fan.targetRPM) {
        target_->setText(QStringLiteral("Target %1").arg(*fan.targetRPM));
    }
    mode_->setText(manual ? QStringLiteral("Manual") : QStringLiteral("Automatic"));
    bounds_->setText(QStringLiteral("Maximum %1").arg(fan.maxRPM));
    curve_->setVisible(curveTemperature.has_value());
    if (curveTemperature) {
        curve_->setText(QString::asprintf("Curve input %.1f °C", *curveTemperature));
        curve_->setToolTip(curveDriver ? QString::fromStdString(*curveDriver) : QString());
    }
    setAccessibleName(fanLabel(fan.index));
}

} // namespace quorvane
