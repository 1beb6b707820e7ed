#pragma once

#include "Helpers/UUID.hpp"
#include "UI/AppModelAdapter.hpp"
#include "UI/DesktopActions.hpp"
#include "UI/PresetDeletionPrompt.hpp"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <map>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace quorvane {

class Banner;
class ExpandedSensorHistoryView;
class MenuBarSparkline;
class TemperatureGaugeView;

// The tray's panel: banners, the thermal summary, the fan zones, setup prompts, the presets, a short
// history and the footer. It shows the model and calls its operations, nothing more.
class MenuBarView final : public QWidget {
    Q_OBJECT

public:
    MenuBarView(AppModelAdapter& adapter, DesktopActions actions, QWidget* parent = nullptr);

    // The panel window's size when it first opens; nothing in it may be cut off at this width.
    static constexpr int defaultWidth = 400;
    static constexpr int defaultHeight = 720;

    bool isHistoryExpanded() const { return isHistoryExpanded_; }
    void setHistoryExpanded(bool expanded);
    // The confirmation that a delete opened, while it is open.
    QMessageBox* deletionConfirmation() const { return deletion_.box(); }
    std::optional<UUID> presetPendingDeletion() const { return deletion_.pending(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // While the panel is closed, changes only accumulate; opening it applies them at once.
    void refresh(const AppModelAdapter::Changes& changes);
    void apply(const AppModelAdapter::Changes& changes);
    void refreshBanners();
    void refreshSummary();
    void refreshZones();
    void refreshPrompts();
    void rebuildPresets();
    void refreshHistory();

    AppModelAdapter& adapter_;
    AppModel& model_;
    DesktopActions actions_;

    Banner* noFansBanner_;
    Banner* unverifiedBanner_;
    Banner* ownershipBanner_;
    Banner* criticalBanner_;
    Banner* conflictBanner_;
    Banner* errorBanner_;

    std::map<AppModel::Property, QLabel*> metricValues_;
    QCheckBox* rawToggle_;
    QWidget* rawRows_;
    QLabel* cpuHotspot_;
    QLabel* gpuHotspot_;
    TemperatureGaugeView* gauge_;

    QVBoxLayout* zoneRows_;
    QWidget* setupPrompt_;
    QWidget* testPrompt_;
    QLabel* competitorPrompt_;

    QVBoxLayout* presetRows_;
    MenuBarSparkline* sparkline_;
    QPushButton* expandButton_;
    ExpandedSensorHistoryView* expandedHistory_;

    PresetDeletionPrompt deletion_{*this, model_};
    AppModelAdapter::Changes pending_ = AppModelAdapter::Changes::all();
    bool isHistoryExpanded_ = false;
    bool showRawThermals_ = false;
};

} // namespace quorvane
