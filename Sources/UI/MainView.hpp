#pragma once

#include "Helpers/UUID.hpp"
#include "UI/AppModelAdapter.hpp"
#include "UI/DesktopActions.hpp"
#include "UI/FanCurveEditor.hpp"
#include "UI/PresetDeletionPrompt.hpp"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <optional>
#include <vector>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QVBoxLayout;

namespace quorvane {

class Banner;
class FanCard;
class TemperatureGaugeView;

// The dashboard: the presets in a sidebar (select a row, then apply, rename in place, duplicate,
// delete or edit it) and the machine's state beside them: the banners, the hottest-sensor gauge, the
// helper and one card per fan.
class MainView final : public QWidget {
    Q_OBJECT

public:
    explicit MainView(AppModelAdapter& adapter, DesktopActions actions = {}, QWidget* parent = nullptr);

    // The editor sheet while it is open (editingPreset), and the delete confirmation.
    FanCurveEditor* editor() const { return editor_; }
    QMessageBox* deletionConfirmation() const { return deletion_.box(); }
    QListWidget* presetList() const { return presetList_; }

    void editPreset(const FanPreset& preset);

private:
    void refresh(const AppModelAdapter::Changes& changes);
    void rebuildPresets();
    void refreshDetail();
    void refreshFans();
    void refreshSelectionButtons();
    std::optional<FanPreset> selectedPreset() const;
    void commitRename(QListWidgetItem* item);

    void refreshBanners();

    AppModelAdapter& adapter_;
    AppModel& model_;
    DesktopActions actions_;

    QListWidget* presetList_;
    QPushButton* applyButton_;
    QPushButton* editButton_;
    QPushButton* renameButton_;
    QPushButton* duplicateButton_;
    QPushButton* deleteButton_;
    Banner* criticalBanner_;
    Banner* conflictBanner_;
    Banner* errorBanner_;
    TemperatureGaugeView* gauge_;
    QLabel* helperState_;
    QVBoxLayout* fanCards_;
    std::vector<FanCard*> cards_;

    QPointer<FanCurveEditor> editor_;
    PresetDeletionPrompt deletion_{*this, model_};
    std::optional<UUID> renamingPresetID_;
    bool rebuilding_ = false;
};

} // namespace quorvane
