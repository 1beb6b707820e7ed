#include "PrivilegedHelper/HelperDaemon.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/FramedConnection.hpp"
#include "Platform/PeerProcess.hpp"
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
#include <asio/strand.hpp>
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
      signals_(mainLoop_, SIGTERM, SIGINT, SIGHUP),
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
    listener_ = options_.activatedDescriptor
                    ? std::make_unique<UnixSocketListener>(mainLoop_, *options_.activatedDescriptor)
                    : std::make_unique<UnixSocketListener>(mainLoop_, options_.socketPath, 0666);
    listener_->start([this](asio::local::stream_protocol::socket socket) { accept(std::move(socket)); });
}

HelperDaemon::~HelperDaemon() {
    listener_.reset();
    joinWorkers();
}

void HelperDaemon::joinWorkers() {
    checks_.stop();
    connections_.stop();
    for (auto& worker : workers_) {
        worker.join();
    }
    workers_.clear();
}

// On the main loop: only counting, then the peer goes to be checked elsewhere.
void HelperDaemon::accept(asio::local::stream_protocol::socket socket) {
    if (openConnections_.load() >= options_.maxConnections) {
        logger_.error("refused a connection: " + std::to_string(options_.maxConnections) +
                      " connections are open already");
        return;
    }
    asio::error_code error;
    auto connection = std::make_shared<FileDescriptor>(socket.release(error));
    if (error) {
        return;
    }
    ++openConnections_;
    asio::post(checks_, [this, connection] { check(std::move(*connection)); });
}

void HelperDaemon::check(FileDescriptor connection) {
    auto peer = PeerProcess::ofSocket(connection.get());
    if (!peer || !options_.isAuthorizedClient || !options_.isAuthorizedClient(*peer)) {
        logger_.error("refused connection from pid " + std::to_string(peer ? peer->pid() : 0) +
                      ": not the pinned Quorvane app");
        --openConnections_;
        return;
    }
    // Each connection on a strand of its own: its reads, writes and idle timer never overlap.
    asio::local::stream_protocol::socket socket(asio::make_strand(connections_));
    asio::error_code error;
    socket.assign(asio::local::stream_protocol(), connection.get(), error);
    if (error) {
        --openConnections_;
        return;
    }
    connection.release();
    serve(std::move(socket), std::make_shared<const PeerProcess>(std::move(*peer)));
}

void HelperDaemon::serve(asio::local::stream_protocol::socket socket,
                         std::shared_ptr<const PeerProcess> peer) {
    auto service = std::make_shared<HelperService>(*engine_);
    FramedConnection::start(
        std::move(socket), maxHelperMessageSize,
        [this, service,
         peer](std::span<const std::uint8_t> payload) -> std::optional<FramedConnection::Payload> {
            if (!peer->isUnchanged()) {
                logger_.error("closed the connection of pid " + std::to_string(peer->pid()) +
                              ": the process exited or runs another program");
                return std::nullopt;
            }
            try {
                const auto request = HelperRequest::fromJSON(decodeHelperMessage(payload));
                return encodeHelperMessage(service->handle(request).toJSON());
            } catch (const HelperProtocolError&) {
                return std::nullopt;
            }
        },
        [this, service] {
            service->connectionInvalidated();
            --openConnections_;
        },
        options_.idleTimeout);
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
    auto connectionWork = asio::make_work_guard(connections_);
    auto checkWork = asio::make_work_guard(checks_);
    signals_.async_wait([this](const std::error_code& error, int) {
        if (!error) {
            engine_->shutdown();
            mainLoop_.stop();
        }
    });
    for (int i = 0; i < options_.connectionThreads; ++i) {
        workers_.push_back(startSignalFreeThread([this] { connections_.run(); }));
    }
    for (int i = 0; i < checkingThreads; ++i) {
        workers_.push_back(startSignalFreeThread([this] { checks_.run(); }));
    }
    logger_.notice("listening for the app");
    mainLoop_.run();
    joinWorkers();
    return 0;
}

} // namespace quorvane
