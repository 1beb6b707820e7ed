#pragma once

#include "UI/AppModelAdapter.hpp"
#include "UI/DesktopActions.hpp"

#include <QString>
#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace quorvane {

// The settings window: helper and approval, fan-control owner, start at login, polling, overheat
// alerts, preset import and export, the emergency reset and the version.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    SettingsView(AppModelAdapter& adapter, DesktopActions actions, QWidget* parent = nullptr);

    enum class FileRequest { exportPresets, importPresets };
    // Asks the user for a file and calls back with its path only when one was chosen. The default
    // opens a non-modal JSON file dialog; tests put a temporary file in its place.
    using FileChooser = std::function<void(FileRequest, std::function<void(const QString&)>)>;
    void setFileChooser(FileChooser chooser);

private:
    QWidget* buildHelperSection();
    QWidget* buildMonitoringSection();
    QWidget* buildAlertSection();
    QWidget* buildPresetsSection();
    QWidget* buildSafetySection();
    QWidget* buildAboutSection();
    void refresh(const AppModelAdapter::Changes& changes);
    void showPollingLabel(int steps);
    void applyPollingInterval();
    void chooseJSONFile(FileRequest request, std::function<void(const QString&)> chosen);

    AppModel& model_;
    DesktopActions actions_;
    FileChooser fileChooser_;

    QLabel* error_;
    QLabel* ownershipEffect_;
    QLabel* detectedWriter_;
    QLabel* helperStatus_;
    // Shown only while the helper is not approved.
    QPushButton* install_;
    QLabel* supervisedTest_;
    QComboBox* ownership_;
    QCheckBox* startAtLogin_;
    QSlider* pollingInterval_;
    QLabel* pollingLabel_;
    QCheckBox* alertsEnabled_;
    QSlider* threshold_;
    QLabel* thresholdValue_;
};

} // namespace quorvane
