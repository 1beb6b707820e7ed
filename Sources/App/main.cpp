// Quorvane: the desktop app, or the headless front end with --headless or where no display exists.
#include "App/AppCommandLine.hpp"
#include "App/AppModel.hpp"
#include "App/HeadlessFrontEnd.hpp"
#include "App/HelperRegistrationRefresh.hpp"
#include "App/RunningInstance.hpp"
#include "App/SessionBusReclaim.hpp"
#include "App/SingleInstance.hpp"
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
#include "Platform/Qt/TerminationSignals.hpp"
#include "Platform/SMCMachine.hpp"
#include "Platform/SocketHelperTransport.hpp"
#include "Platform/XDGLaunchAtLogin.hpp"
#include "UI/DesktopApp.hpp"

#include <QApplication>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <unistd.h>

using namespace quorvane;

namespace {

// Answers the session bus on the headless loop whenever its connection has something to read.
class BusWatch {
public:
    // `lost` runs once the bus has gone away.
    BusWatch(asio::io_context& context, AppInstanceService& service, std::function<void()> lost)
        : service_(service), descriptor_(context, ::dup(service.descriptor())), lost_(std::move(lost)) {
        asio::post(context, [this] { answer(); });
    }

private:
    void answer() {
        if (!service_.process()) {
            lost_();
            return;
        }
        descriptor_.async_wait(asio::posix::stream_descriptor::wait_read,
                               [this](const std::error_code& error) {
                                   if (!error) {
                                       answer();
                                   }
                               });
    }

    AppInstanceService& service_;
    asio::posix::stream_descriptor descriptor_;
    std::function<void()> lost_;
};

} // namespace

int main(int argc, char** argv) {
    // Before anything starts a thread: threads inherit this mask, so a termination signal can only
    // reach the main loop's signalfd or signal set, never a library's thread, whose default action
    // would end the process with the fans still in manual mode.
    const sigset_t quitSignals = TerminationSignals::signalSet();
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);

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
    if (commandLine.version) {
        std::cout << "Quorvane " QUORVANE_VERSION "\n";
        return 0;
    }
    // Nothing to hand back until this process runs the app: until then Ctrl-C ends it at once, also
    // while it refreshes the registration or waits for the running app's answer.
    pthread_sigmask(SIG_UNBLOCK, &quitSignals, nullptr);
    if (commandLine.refreshHelperRegistration) {
        return refreshHelperRegistration(*makeDaemonRegistration(), std::cout, std::cerr,
                                         SteadyClock::shared());
    }
    std::signal(SIGPIPE, SIG_IGN);

    SingleInstance instance(
        SingleInstance::Locations{.busAddress = std::nullopt, .lockFile = InstanceLock::defaultPath()});
    if (auto handedOver = instance.start(commandLine, std::cout, std::cerr)) {
        return *handedOver;
    }
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
    // Only the app that runs talks to systemd: a start that forwards its switches never reaches the
    // system bus.
    auto registration = makeDaemonRegistration();

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
        DesktopApp app(std::move(commandLine), *registration, &instance);
        return app.run();
    }

    AsioMainExecutor mainExecutor;
    // Outlives the scan queue, whose last scan may still be reading it while the app quits.
    ProcFSProcessTable processes;
    AsioWorkQueue heartbeatQueue(AppBundleIdentifier + ".helper-heartbeat");
    AsioWorkQueue pollQueue(AppBundleIdentifier + ".smc-poll");
    AsioWorkQueue scanQueue(AppBundleIdentifier + ".controller-scan");
    JSONFileDefaultsStore defaults(JSONFileDefaultsStore::defaultPath());
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
    RunningInstance running(model, mainExecutor, {}, [&](const AppInstanceState& state) {
        if (instance.service() != nullptr) {
            instance.service()->publish(state);
        }
    });
    std::optional<BusWatch> busWatch;
    bool quitting = false;
    std::optional<SessionBusReclaim> busReclaim;
    const auto lost = [&] {
        if (!quitting) {
            busReclaim->lost();
        }
    };
    busReclaim.emplace(mainExecutor, [&] {
        if (quitting || !instance.reclaim(running)) {
            return false;
        }
        busWatch.emplace(mainExecutor.context(), *instance.service(), lost);
        return true;
    });
    if (instance.service() != nullptr) {
        frontEnd.onQuitting([&] {
            quitting = true;
            if (instance.service() != nullptr) {
                instance.service()->release();
            }
        });
        instance.service()->attach(running);
        busWatch.emplace(mainExecutor.context(), *instance.service(), lost);
    }

    // The handlers only post: the hand-back runs on the main loop like every other quit. The signals
    // reach this thread alone; the workers keep them blocked.
    asio::signal_set terminationSignals(mainExecutor.context(), SIGINT, SIGTERM, SIGHUP);
    std::function<void(const std::error_code&, int)> onSignal = [&](const std::error_code& error, int) {
        if (error) {
            return;
        }
        frontEnd.requestTermination(0);
        terminationSignals.async_wait(onSignal);
    };
    terminationSignals.async_wait(onSignal);
    pthread_sigmask(SIG_UNBLOCK, &quitSignals, nullptr);

    model.start();
    frontEnd.start();
    mainExecutor.run();
    return status;
}
