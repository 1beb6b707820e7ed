#include "PrivilegedHelper/HelperDaemon.hpp"

#include "Platform/FramedConnection.hpp"
#include "Platform/PeerCredentials.hpp"
#include "Platform/ProcFSProcessTable.hpp"
#include "Platform/SMCMachine.hpp"
#include "Platform/SignalFreeThread.hpp"
#include "Platform/UnixSocketListener.hpp"
#include "PrivilegedHelper/AsioEngineScheduler.hpp"
#include "PrivilegedHelper/HelperService.hpp"
#include "XPC/FanControlXPC.hpp"
#include "XPC/HelperProtocolError.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace quorvane {

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

// A listening socket handed over by systemd (LISTEN_PID/LISTEN_FDS, first descriptor 3).
std::optional<int> systemdListenDescriptor() {
    const auto pid = environment("LISTEN_PID");
    const auto count = environment("LISTEN_FDS");
    if (!pid || !count || std::atoi(pid->c_str()) != ::getpid() || std::atoi(count->c_str()) < 1) {
        return std::nullopt;
    }
    return 3;
}

} // namespace

std::string HelperDaemonOptions::defaultSocketPath() {
    return "/var/run/" + FanControlXPC::machServiceName + ".sock";
}

HelperDaemonOptions HelperDaemonOptions::fromEnvironment() {
    HelperDaemonOptions options;
    options.socketPath = environment("QUORVANE_HELPER_SOCKET").value_or(defaultSocketPath());
    if (auto lock = environment("QUORVANE_HELPER_LOCK")) {
        options.enginePaths.controlLock = *lock;
    }
    if (auto marker = environment("QUORVANE_HELPER_MARKER")) {
        options.enginePaths.capabilityMarker = *marker;
    }
    const auto machine = SMCMachine::fromEnvironment();
    options.smcMachine = machine.description();
    options.makeSMCTransport = [machine] {
        return machine.makeUserClient(true);
    };
    options.activatedDescriptor = systemdListenDescriptor();
    return options;
}

HelperDaemon::HelperDaemon(HelperDaemonOptions options)
    : options_(std::move(options)), logger_(FanControlXPC::machServiceName, "Daemon"),
      processes_(options_.makeProcessTable ? options_.makeProcessTable()
                                           : std::make_unique<ProcFSProcessTable>()),
      scheduler_(std::make_unique<AsioEngineScheduler>()) {
    if (!options_.smcMachine.empty()) {
        logger_.notice("SMC in use: " + options_.smcMachine);
    }
    auto transport = options_.makeSMCTransport ? options_.makeSMCTransport()
                                               : SMCMachine::fromEnvironment().makeUserClient(true);
    engine_ = std::make_unique<HelperControlEngine>(std::move(transport), SteadyClock::shared(), *processes_,
                                                    *scheduler_, options_.enginePaths);
    if (options_.activatedDescriptor) {
        listenOnActivatedSocket(*options_.activatedDescriptor);
    } else {
        listener_ = std::make_unique<UnixSocketListener>(connections_, options_.socketPath, 0666);
        listener_->start([this](asio::local::stream_protocol::socket socket) { accept(std::move(socket)); });
    }
}

HelperDaemon::~HelperDaemon() {
    connections_.stop();
    for (auto& thread : threads_) {
        thread.join();
    }
}

void HelperDaemon::listenOnActivatedSocket(int descriptor) {
    activated_ = std::make_unique<asio::local::stream_protocol::acceptor>(connections_);
    activated_->assign(asio::local::stream_protocol(), descriptor);
    struct Loop {
        static void next(HelperDaemon& daemon) {
            daemon.activated_->async_accept(
                [&daemon](const std::error_code& error, asio::local::stream_protocol::socket socket) {
                    if (error == asio::error::operation_aborted) {
                        return;
                    }
                    if (!error) {
                        daemon.accept(std::move(socket));
                    }
                    next(daemon);
                });
        }
    };
    Loop::next(*this);
}

void HelperDaemon::accept(asio::local::stream_protocol::socket socket) {
    const auto peer = PeerCredentials::of(socket.native_handle());
    if (!peer || !options_.isAuthorizedClient || !options_.isAuthorizedClient(peer->pid)) {
        logger_.error("refused connection from pid " + std::to_string(peer ? peer->pid : 0) +
                      ": not the pinned Quorvane app");
        asio::error_code ignored;
        socket.close(ignored);
        return;
    }
    auto service = std::make_shared<HelperService>(*engine_);
    FramedConnection::start(
        std::move(socket), maxHelperMessageSize,
        [service](std::span<const std::uint8_t> payload) -> std::optional<FramedConnection::Payload> {
            try {
                const auto request = HelperRequest::fromJSON(decodeHelperMessage(payload));
                return encodeHelperMessage(service->handle(request).toJSON());
            } catch (const HelperProtocolError&) {
                return std::nullopt;
            }
        },
        [service] { service->connectionInvalidated(); });
}

void HelperDaemon::stop() {
    asio::post(mainLoop_, [this] {
        engine_->shutdown();
        mainLoop_.stop();
    });
}

int HelperDaemon::run() {
    std::signal(SIGPIPE, SIG_IGN);
    auto guard = asio::make_work_guard(mainLoop_);
    asio::signal_set signals(mainLoop_, SIGTERM, SIGINT);
    signals.async_wait([this](const std::error_code& error, int) {
        if (!error) {
            engine_->shutdown();
            mainLoop_.stop();
        }
    });
    for (int i = 0; i < options_.connectionThreads; ++i) {
        threads_.push_back(startSignalFreeThread([this] { connections_.run(); }));
    }
    logger_.notice("listening for the app");
    mainLoop_.run();
    connections_.stop();
    for (auto& thread : threads_) {
        thread.join();
    }
    threads_.clear();
    return 0;
}

} // namespace quorvane
