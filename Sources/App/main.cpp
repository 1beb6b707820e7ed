// Quorvane: the desktop app, or the headless front end with --headless or where no display exists.
#include "App/AppCommandLine.hpp"
#include "App/AppModel.hpp"
#include "App/HeadlessFrontEnd.hpp"
#include "App/HelperRegistrationRefresh.hpp"
#include "App/TelemetrySource.hpp"
#include "Client/HelperClient.hpp"
#include "Client/TelemetryPoller.hpp"
#include "Helpers/AppIdentity.hpp"
#include "Platform/AsioMainExecutor.hpp"
#include "Platform/AsioWorkQueue.hpp"
#include "Platform/ConsoleNotificationCenter.hpp"
#include "Platform/DaemonRegistrationFactory.hpp"
#include "Platform/JSONFileDefaultsStore.hpp"
#include "Platform/LogindPowerMonitor.hpp"
#include "Platform/ProcFSProcessTable.hpp"
#include "Platform/SMCMachine.hpp"
#include "Platform/SocketHelperTransport.hpp"
#include "Platform/XDGLaunchAtLogin.hpp"
#include "UI/DesktopApp.hpp"

#include <QApplication>
#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdlib>
#include <iostream>

using namespace quorvane;

int main(int argc, char** argv) {
    AppCommandLine commandLine;
    try {
        commandLine = AppCommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const AppCommandLineError& error) {
        std::cerr << "Quorvane: " << error.what() << "\n" << AppCommandLine::usage();
        return 2;
    }
    if (commandLine.help) {
        std::cout << AppCommandLine::usage();
        return 0;
    }
    auto registration = makeDaemonRegistration();
    if (commandLine.refreshHelperRegistration) {
        return refreshHelperRegistration(*registration, std::cout, std::cerr, SteadyClock::shared());
    }
    std::signal(SIGPIPE, SIG_IGN);

    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (!commandLine.headless && !set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) {
        if (!commandLine.openWindows.empty() || commandLine.screenshotDirectory) {
            std::cerr << "Quorvane: --open and --screenshots need a display\n";
            return 2;
        }
        std::cerr << "Quorvane: no display; running headless\n";
        commandLine.headless = true;
    }
    if (!commandLine.headless) {
        QApplication application(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Quorvane"));
        QApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
        QApplication::setDesktopFileName(QStringLiteral("com.orvalith.quorvane"));
        DesktopApp app(std::move(commandLine), *registration);
        return app.run();
    }

    AsioMainExecutor mainExecutor;
    AsioWorkQueue heartbeatQueue(AppBundleIdentifier + ".helper-heartbeat");
    AsioWorkQueue pollQueue(AppBundleIdentifier + ".smc-poll");
    AsioWorkQueue scanQueue(AppBundleIdentifier + ".controller-scan");
    JSONFileDefaultsStore defaults(JSONFileDefaultsStore::defaultPath());
    ProcFSProcessTable processes;
    ConsoleNotificationCenter notifications;
    LogindPowerMonitor powerMonitor;
    XDGLaunchAtLogin launchAtLogin(XDGLaunchAtLogin::defaultEntry(), XDGLaunchAtLogin::currentExecutable());

    const auto machine = SMCMachine::fromEnvironment();
    AppModel model(AppModel::Services{
        .helperClient = std::make_unique<HelperClient>(SocketHelperTransport::factory(), *registration,
                                                       heartbeatQueue, mainExecutor),
        .telemetry = std::make_unique<TelemetryPollerSource>(
            std::make_unique<TelemetryPoller>(machine.makeUserClient(), *registration, pollQueue)),
        .defaults = defaults,
        .mainExecutor = mainExecutor,
        .scanExecutor = scanQueue,
        .processes = processes,
        .notifications = notifications,
        .powerMonitor = powerMonitor,
        .launchAtLogin = launchAtLogin,
        .clock = SteadyClock::shared(),
        .wallClock = [] { return std::chrono::system_clock::now(); },
        .hardwareModelIdentifier = machine.modelIdentifier(),
        .smcMachine = machine.description(),
    });

    int status = 0;
    HeadlessFrontEnd frontEnd(model, commandLine, std::cout, std::cerr, [&](int exitStatus) {
        status = exitStatus;
        mainExecutor.stop();
    });
    // The handlers only post: the hand-back runs on the main loop like every other quit.
    asio::signal_set terminationSignals(mainExecutor.context(), SIGINT, SIGTERM);
    std::function<void(const std::error_code&, int)> onSignal = [&](const std::error_code& error, int) {
        if (error) {
            return;
        }
        frontEnd.requestTermination(0);
        terminationSignals.async_wait(onSignal);
    };
    terminationSignals.async_wait(onSignal);

    model.start();
    frontEnd.start();
    mainExecutor.run();
    return status;
}
