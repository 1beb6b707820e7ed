#pragma once

#include "UI/AppModelAdapter.hpp"

#include <QString>
#include <QWidget>

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

    // (the implementation adds what it needs below)
};

} // namespace quorvane
