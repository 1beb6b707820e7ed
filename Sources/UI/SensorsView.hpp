#pragma once

#include "UI/AppModelAdapter.hpp"

#include <QWidget>
#include <vector>

class QLabel;
class QLineEdit;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace quorvane {

class CompactTemperatureGauge;
class ThermalMetricSummary;

// The "Temperature Sensors" window: the hottest sensor on a compact gauge, the live comparison of
// the derived CPU/GPU metrics, then every channel, searchable: temperatures grouped by key prefix,
// then the power, voltage and current channels in groups of their own.
class SensorsView final : public QWidget {
    Q_OBJECT

public:
    explicit SensorsView(AppModelAdapter& adapter, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // A reading's group: the first two characters of its key name ("Tp" for "Tp01"), the naming
    // scheme's channel family; shorter keys are their own group.
    static QString groupPrefix(const QString& keyName);
    // Where a reading is listed: temperatures by key prefix, then "Power", "Voltage" and
    // "Current" by unit, in that order.
    struct Group {
        int rank = 0;
        QString name;

        bool operator<(const Group& other) const {
            return rank != other.rank ? rank < other.rank : name < other.name;
        }
    };
    static Group groupOf(const SensorReading& reading);
    // The readings whose key name contains the search text, ignoring case; all of them for an
    // empty search.
    static std::vector<SensorReading> filtered(const std::vector<SensorReading>& readings,
                                               const QString& search);

    QLineEdit* searchField() const { return search_; }
    QTreeWidget* tree() const { return tree_; }
    bool showsEmptyState() const;
    CompactTemperatureGauge* gauge() const { return gauge_; }
    ThermalMetricSummary* summary() const { return summary_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh(const AppModelAdapter::Changes& changes);
    void rebuild();
    void refreshGauge();

    AppModelAdapter& adapter_;
    QLabel* hottestValue_;
    CompactTemperatureGauge* gauge_;
    ThermalMetricSummary* summary_;
    QLineEdit* search_;
    QStackedWidget* pages_;
    QWidget* emptyState_;
    QTreeWidget* tree_;
    // The keys now listed, in order, and their value cells: a poll with the same channels only
    // rewrites the values, leaving expansion, selection and scrolling alone.
    std::vector<std::string> listedKeys_;
    std::vector<QTreeWidgetItem*> listedItems_;
    bool stale_ = true;
};

} // namespace quorvane
