#pragma once

#include "App/AppCommandLine.hpp"
#include "App/AppModel.hpp"
#include "App/LaunchActions.hpp"
#include "Platform/DaemonRegistration.hpp"
#include "UI/DesktopActions.hpp"

#include <QObject>
#include <QPointer>
#include <memory>

class QSocketNotifier;
class QWidget;

namespace quorvane {

class AppModelAdapter;
class AsioWorkQueue;
class FreedesktopNotificationCenter;
class JSONFileDefaultsStore;
class MenuBarView;
class NoFeedUpdater;
class ProcFSProcessTable;
class QtLogindPowerMonitor;
class QtMainExecutor;
class RunningInstance;
class ScreenshotSession;
class SessionBusReclaim;
class SingleInstance;
class StatusItem;
class TrayHostWait;
class TerminationSignals;
class UpdateManager;
class XDGLaunchAtLogin;

// The desktop app: its services, the model, the tray item with its panel, the windows, the launch
// switches, and quitting only once every fan is back with the system. Construct after QApplication.
class DesktopApp final : public QObject {
    Q_OBJECT

public:
    // `instance`, when it serves on a session bus, carries later starts' switches and the live state.
    DesktopApp(AppCommandLine commandLine, DaemonRegistration& registration,
               SingleInstance* instance = nullptr);
    ~DesktopApp() override;

    // Starts the model and runs the event loop; returns the exit status.
    int run();
    // The first request hands the fans back and then quits; later ones change nothing.
    void requestQuit(int status = 0);

    void openDashboard();
    void openSensors();
    void openSettings();
    void showPanel();
    // "dashboard", "sensors", "settings" or "panel".
    void openWindow(const std::string& name);

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void present(QWidget& window);
    void openLoginItems();
    void countPoll();
    void startScreenshots();
    void serveInstance();
    // Answers the bus whenever its connection has something to read; a lost bus is reclaimed.
    void watchBus();
    // Once it is known whether there is a tray: the status item, and without a tray the panel window.
    void setUpStatusItem(const DesktopActions& actions, bool tray);
    SingleInstance* instance_ = nullptr;

    AppCommandLine commandLine_;
    std::unique_ptr<TerminationSignals> signals_;
    std::unique_ptr<QtMainExecutor> mainExecutor_;
    // Outlives the scan queue, whose last scan may still be reading it while the app quits.
    std::unique_ptr<ProcFSProcessTable> processes_;
    std::unique_ptr<AsioWorkQueue> heartbeatQueue_;
    std::unique_ptr<AsioWorkQueue> pollQueue_;
    std::unique_ptr<AsioWorkQueue> scanQueue_;
    std::unique_ptr<JSONFileDefaultsStore> defaults_;
    std::unique_ptr<FreedesktopNotificationCenter> notifications_;
    std::unique_ptr<QtLogindPowerMonitor> powerMonitor_;
    std::unique_ptr<XDGLaunchAtLogin> launchAtLogin_;
    std::unique_ptr<NoFeedUpdater> updater_;
    std::unique_ptr<UpdateManager> updateManager_;
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<AppModelAdapter> adapter_;
    std::unique_ptr<LaunchActions> launchActions_;
    std::unique_ptr<RunningInstance> runningInstance_;
    std::unique_ptr<QSocketNotifier> busNotifier_;
    std::unique_ptr<SessionBusReclaim> busReclaim_;

    std::unique_ptr<QWidget> panelWindow_;
    MenuBarView* panel_ = nullptr;
    std::unique_ptr<StatusItem> statusItem_;
    std::unique_ptr<TrayHostWait> trayWait_;
    std::unique_ptr<QWidget> dashboard_;
    std::unique_ptr<QWidget> sensors_;
    std::unique_ptr<QWidget> settings_;
    ScreenshotSession* screenshots_ = nullptr;

    bool terminationPending_ = false;
    int exitStatus_ = 0;
    int polls_ = 0;
};

} // namespace quorvane
