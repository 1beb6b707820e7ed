#pragma once

#include "SMC/FanInfo.hpp"

#include <QFrame>
#include <optional>
#include <string>

class QLabel;

namespace quorvane {

// One fan on the dashboard: speed, target, mode, limits and the temperature its curve follows.
class FanCard final : public QFrame {
    Q_OBJECT

public:
    explicit FanCard(QWidget* parent = nullptr);
    void setFan(const FanInfo& fan, std::optional<double> curveTemperature,
                std::optional<std::string> curveDriver);

private:
    QLabel* title_;
    QLabel* speed_;
    QLabel* target_;
    QLabel* mode_;
    QLabel* bounds_;
    QLabel* curve_;
};

} // namespace quorvane
