#include "UI/DesktopApp.hpp"

#include "App/RunningInstance.hpp"
#include "App/SessionBusReclaim.hpp"
#include "App/SingleInstance.hpp"
#include "App/TelemetrySource.hpp"
#include "Client/HelperClient.hpp"
#include "Client/TelemetryPoller.hpp"
#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/AppInstanceService.hpp"
#include "Platform/AsioWorkQueue.hpp"
#include "Platform/JSONFileDefaultsStore.hpp"
#include "Platform/NoFeedUpdater.hpp"
#include "Platform/ProcFSProcessTable.hpp"
#include "Platform/Qt/FreedesktopNotificationCenter.hpp"
#include "Platform/Qt/QtLogindPowerMonitor.hpp"
#include "Platform/Qt/QtMainExecutor.hpp"
#include "Platform/Qt/TerminationSignals.hpp"
#include "Platform/SMCMachine.hpp"
#include "Platform/SocketHelperTransport.hpp"
#include "Platform/XDGLaunchAtLogin.hpp"
#include "UI/AppModelAdapter.hpp"
#include "UI/FanCurveEditor.hpp"
#include "UI/MainView.hpp"
#include "UI/MenuBarView.hpp"
#include "UI/ScreenshotSession.hpp"
#include "UI/SensorsView.hpp"
#include "UI/SettingsView.hpp"
#include "UI/StatusItem.hpp"
#include "UI/SymbolIcon.hpp"
#include "UI/TrayHostWait.hpp"
#include "UI/UpdateManager.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QScrollArea>
#include <QSocketNotifier>
#include <QTimer>
#include <iostream>

namespace quorvane {

DesktopApp::DesktopApp(AppCommandLine commandLine, DaemonRegistration& registration, SingleInstance* instance)
    : commandLine_(std::move(commandLine)), signals_(std::make_unique<TerminationSignals>()),
      mainExecutor_(std::make_unique<QtMainExecutor>()), processes_(std::make_unique<ProcFSProcessTable>()),
      heartbeatQueue_(std::make_unique<AsioWorkQueue>(AppBundleIdentifier + ".helper-heartbeat")),
      pollQueue_(std::make_unique<AsioWorkQueue>(AppBundleIdentifier + ".smc-poll")),
      scanQueue_(std::make_unique<AsioWorkQueue>(AppBundleIdentifier + ".controller-scan")),
      defaults_(std::make_unique<JSONFileDefaultsStore>(JSONFileDefaultsStore::defaultPath())),
      notifications_(std::make_unique<FreedesktopNotificationCenter>()),
      powerMonitor_(std::make_unique<QtLogindPowerMonitor>()),
      launchAtLogin_(std::make_unique<XDGLaunchAtLogin>(XDGLaunchAtLogin::defaultEntry(),
                                                        XDGLaunchAtLogin::currentExecutable())),
      updater_(std::make_unique<NoFeedUpdater>()),
      updateManager_(std::make_unique<UpdateManager>(*updater_, &UpdateManager::showWarning)) {
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(symbolIcon(QStringLiteral("fan")));
    connect(signals_.get(), &TerminationSignals::received, this, [this] { requestQuit(0); });

    const auto machine = SMCMachine::fromEnvironment();
    model_ = std::make_unique<AppModel>(AppModel::Services{
        .helperClient = std::make_unique<HelperClient>(SocketHelperTransport::factory(), registration,
                                                       *heartbeatQueue_, *mainExecutor_),
        .telemetry = std::make_unique<TelemetryPollerSource>(
            std::make_unique<TelemetryPoller>(machine.makeUserClient(), registration, *pollQueue_)),
        .defaults = *defaults_,
        .mainExecutor = *mainExecutor_,
        .scanExecutor = *scanQueue_,
        .processes = *processes_,
        .notifications = *notifications_,
        .powerMonitor = *powerMonitor_,
        .launchAtLogin = *launchAtLogin_,
        .clock = SteadyClock::shared(),
        .wallClock = [] { return std::chrono::system_clock::now(); },
        .hardwareModelIdentifier = machine.modelIdentifier(),
        .smcMachine = machine.description(),
        .openLoginItems = [this] { openLoginItems(); },
        .activateApp =
            [] {
                for (QWidget* window : QApplication::topLevelWidgets()) {
                    if (window->isVisible()) {
                        window->raise();
                        window->activateWindow();
                    }
                }
            },
    });
    adapter_ = std::make_unique<AppModelAdapter>(*model_);
    launchActions_ =
        std::make_unique<LaunchActions>(*model_, commandLine_, [this](const std::string& failure) {
            std::cerr << "Quorvane: " << failure << "\n";
            requestQuit(2);
        });

    const DesktopActions actions{
        .openDashboard = [this] { openDashboard(); },
        .openSensors = [this] { openSensors(); },
        .openSettings = [this] { openSettings(); },
        .openLoginItems = [this] { openLoginItems(); },
        .checkForUpdates = [this] { updateManager_->checkForUpdates(); },
        .quit = [this] { requestQuit(0); },
    };
    auto scroll = std::make_unique<QScrollArea>();
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    panel_ = new MenuBarView(*adapter_, actions);
    scroll->setWidget(panel_);
    scroll->resize(MenuBarView::defaultWidth, MenuBarView::defaultHeight);
    panelWindow_ = std::move(scroll);
    panelWindow_->installEventFilter(this);
    // At login the panel, and its tray, may come up after the app.
    constexpr int trayCheckMilliseconds = 250;
    constexpr int trayChecks = 20;
    trayWait_ =
        std::make_unique<TrayHostWait>(TrayHostWait::Probes{}, trayCheckMilliseconds, trayChecks,
                                       [this, actions](bool tray) { setUpStatusItem(actions, tray); });

    connect(adapter_.get(), &AppModelAdapter::changed, this, [this](const AppModelAdapter::Changes& changes) {
        if (changes.contains(AppModel::Property::lastTemperatureSampleDate)) {
            countPoll();
        }
    });
    if (instance != nullptr && instance->service() != nullptr) {
        instance_ = instance;
        serveInstance();
    }
}

void DesktopApp::setUpStatusItem(const DesktopActions& actions, bool tray) {
    const bool panelShown = panelWindow_->isVisible();
    if (tray) {
        panelWindow_->setWindowFlags(Qt::Tool);
    } else {
        Logger(AppBundleIdentifier, "Setup").notice("no system tray; the panel is a window of its own");
    }
    statusItem_ = std::make_unique<StatusItem>(*adapter_, *panelWindow_, actions, tray);
    if (!tray) {
        // Nothing in a tray to click: the panel is the app's window.
        panelWindow_->show();
    } else if (panelShown) {
        statusItem_->togglePanel();
    }
}

void DesktopApp::serveInstance() {
    runningInstance_ = std::make_unique<RunningInstance>(
        *model_, *mainExecutor_,
        [this](const std::string& name, const std::string& activationToken) {
            // The Wayland platform activates the next window it raises with this token, then drops it.
            if (!activationToken.empty()) {
                qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(activationToken));
            }
            openWindow(name);
        },
        [this](const AppInstanceState& state) {
            if (instance_->service() != nullptr) {
                instance_->service()->publish(state);
            }
        });
    instance_->service()->attach(*runningInstance_);
    busReclaim_ = std::make_unique<SessionBusReclaim>(*mainExecutor_, [this] {
        if (terminationPending_ || !instance_->reclaim(*runningInstance_)) {
            return false;
        }
        watchBus();
        return true;
    });
    watchBus();
}

void DesktopApp::watchBus() {
    auto& service = *instance_->service();
    busNotifier_ = std::make_unique<QSocketNotifier>(service.descriptor(), QSocketNotifier::Read);
    const auto answer = [this, &service] {
        if (!busNotifier_->isEnabled() || service.process()) {
            return;
        }
        busNotifier_->setEnabled(false);
        if (!terminationPending_) {
            busReclaim_->lost();
        }
    };
    connect(busNotifier_.get(), &QSocketNotifier::activated, this, answer);
    // Calls may already wait in the connection's queue, where the descriptor does not show them.
    QTimer::singleShot(0, this, answer);
}

DesktopApp::~DesktopApp() = default;

int DesktopApp::run() {
    model_->start();
    launchActions_->start();
    for (const auto& name : commandLine_.openWindows) {
        openWindow(name);
    }
    if (commandLine_.screenshotDirectory) {
        startScreenshots();
    }
    // Once the loop runs: a quit asked for before exec() would be lost, and the app would stay.
    QTimer::singleShot(0, this, [this] {
        if (auto status = launchActions_->runPresetFileJobs(std::cout, std::cerr)) {
            requestQuit(*status);
        }
    });
    return QApplication::exec();
}

void DesktopApp::openWindow(const std::string& name) {
    if (name == "dashboard") {
        openDashboard();
    } else if (name == "sensors") {
        openSensors();
    } else if (name == "settings") {
        openSettings();
    } else if (name == "panel") {
        showPanel();
    }
}

void DesktopApp::requestQuit(int status) {
    if (terminationPending_) {
        return;
    }
    terminationPending_ = true;
    exitStatus_ = status;
    if (instance_ != nullptr && instance_->service() != nullptr) {
        instance_->service()->release();
    }
    launchActions_->cancel();
    // exit(), not quit(): quit() first asks every window to close, and the tray-less panel refuses.
    model_->prepareForTermination([this] { QCoreApplication::exit(exitStatus_); });
}

bool DesktopApp::eventFilter(QObject* watched, QEvent* event) {
    // Without a tray, closing the panel window is the only way to leave: treat it as Quit.
    if (watched == panelWindow_.get() && event->type() == QEvent::Close && statusItem_ &&
        !statusItem_->hasTray()) {
        event->ignore();
        requestQuit(0);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void DesktopApp::present(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

void DesktopApp::openDashboard() {
    if (!dashboard_) {
        dashboard_ = std::make_unique<MainView>(*adapter_, DesktopActions{.openSensors = [this] {
            openSensors();
        }});
        dashboard_->setWindowTitle(QStringLiteral("Quorvane"));
        dashboard_->resize(860, 700);
    }
    present(*dashboard_);
}

void DesktopApp::openSensors() {
    if (!sensors_) {
        sensors_ = std::make_unique<SensorsView>(*adapter_);
        sensors_->setWindowTitle(QStringLiteral("Temperature Sensors"));
        sensors_->resize(470, 640);
    }
    present(*sensors_);
}

void DesktopApp::openSettings() {
    if (!settings_) {
        settings_ = std::make_unique<SettingsView>(
            *adapter_, DesktopActions{.openLoginItems = [this] { openLoginItems(); },
                                      .checkForUpdates =
                                          [this] {
                                              updateManager_->checkForUpdates();
                                          }});
        settings_->setWindowTitle(QStringLiteral("Quorvane Settings"));
        settings_->resize(560, 760);
    }
    present(*settings_);
}

void DesktopApp::showPanel() {
    if (!statusItem_) {
        // Still waiting for a tray: a plain window until it is known.
        present(*panelWindow_);
    } else if (!panelWindow_->isVisible()) {
        statusItem_->togglePanel();
    }
}

// Approval of the helper is a system service here: say how, since there is no Login Items pane.
void DesktopApp::openLoginItems() {
    UpdateManager::showWarning(
        QStringLiteral("Approve the Quorvane helper"),
        QStringLiteral("The helper runs as a system service. Approve it with:\n"
                       "sudo systemctl enable --now com.orvalith.quorvane.helper.socket"));
}

void DesktopApp::countPoll() {
    if (!adapter_->model().lastTemperatureSampleDate()) {
        return;
    }
    ++polls_;
    if (commandLine_.polls && polls_ >= *commandLine_.polls) {
        requestQuit(0);
    }
}

void DesktopApp::startScreenshots() {
    // The editor shows an unsaved curve, so taking pictures changes nothing in the library.
    const FanPreset sample{.id = UUID::generate(),
                           .name = "Quiet Desk",
                           .kind = PresetKind::custom,
                           .strategy = ControlStrategy::cpuCoreAverage,
                           .lowTemperature = 45,
                           .highTemperature = 80,
                           .hysteresis = 2.5,
                           .linkedFans = true};
    std::deque<ScreenshotSession::Shot> shots{
        {QStringLiteral("panel"),
         [this] {
             panel_->setHistoryExpanded(true);
             panelWindow_->resize(panelWindow_->width(), 1180);
             panelWindow_->show();
             return panelWindow_.get();
         }},
        {QStringLiteral("dashboard"),
         [this] {
             openDashboard();
             return dashboard_.get();
         }},
        {QStringLiteral("sensors"),
         [this] {
             openSensors();
             return sensors_.get();
         }},
        {QStringLiteral("settings"),
         [this] {
             openSettings();
             return settings_.get();
         }},
        {QStringLiteral("editor"),
         [this, sample]() -> QWidget* {
             openDashboard();
             auto* view = static_cast<MainView*>(dashboard_.get());
             view->editPreset(sample);
             return view->editor();
         }},
    };
    screenshots_ = new ScreenshotSession(*adapter_, *commandLine_.screenshotDirectory, commandLine_.preset,
                                         std::move(shots), [this](int status) { requestQuit(status); });
}

} // namespace quorvane
