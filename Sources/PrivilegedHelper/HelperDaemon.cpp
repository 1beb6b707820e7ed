#include "PrivilegedHelper/HelperDaemon.hpp"

#include "Helpers/LogRateLimiter.hpp"
#include "Platform/ControlAuthorization.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FramedConnection.hpp"
#include "Platform/PeerProcess.hpp"
#include "Platform/PolkitControlAuthorization.hpp"
#include "Platform/ProcFSProcessTable.hpp"
#include "Platform/SMCMachine.hpp"
#include "Platform/SignalFreeThread.hpp"
#include "Platform/UnixSocketListener.hpp"
#include "PrivilegedHelper/AsioEngineScheduler.hpp"
#include "PrivilegedHelper/HelperService.hpp"
#include "PrivilegedHelper/PeerCheckQueue.hpp"
#include "XPC/FanControlXPC.hpp"
#include "XPC/HelperProtocolError.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/strand.hpp>
#include <csignal>
#include <cstdlib>
#include <pthread.h>
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
    authorization_ = options_.makeControlAuthorization ? options_.makeControlAuthorization()
                                                       : std::make_unique<PolkitControlAuthorization>();
    Clock& clock = options_.clock ? *options_.clock : SteadyClock::shared();
    refusals_ = std::make_unique<LogRateLimiter>(clock, options_.refusalLogInterval);
    // The check holds only what it uses itself: a stalled one may outlive this daemon.
    checks_ = std::make_unique<PeerCheckQueue>(
        checkingThreads, clock, options_.checkDeadline,
        [daemon = this,
         authorized = options_.isAuthorizedClient](FileDescriptor connection) -> PeerCheckQueue::Verdict {
            auto peer = PeerProcess::ofSocket(connection.get());
            if (!peer || !authorized || !authorized(*peer)) {
                // Closed once the refusal is counted.
                return [daemon, pid = peer ? peer->pid() : 0,
                        connection = std::make_shared<FileDescriptor>(std::move(connection))] {
                    daemon->refuse(pid);
                };
            }
            return [daemon, connection = std::make_shared<FileDescriptor>(std::move(connection)),
                    peer = std::make_shared<const PeerProcess>(std::move(*peer))] {
                daemon->admit(std::move(*connection), peer);
            };
        },
        [this] { --openConnections_; });
    listener_ = options_.activatedDescriptor
                    ? std::make_unique<UnixSocketListener>(mainLoop_, *options_.activatedDescriptor)
                    : std::make_unique<UnixSocketListener>(mainLoop_, options_.socketPath, 0666);
    listener_->start([this](asio::local::stream_protocol::socket socket) { accept(std::move(socket)); });
}

HelperDaemon::~HelperDaemon() {
    listener_.reset();
    joinWorkers();
}

// Waits for the connection threads, whose work is short, never for a peer check.
void HelperDaemon::joinWorkers() {
    checks_->close();
    connections_.stop();
    for (auto& worker : workers_) {
        worker.join();
    }
    workers_.clear();
}

// On the main loop: only counting, then the peer goes to be checked elsewhere.
void HelperDaemon::accept(asio::local::stream_protocol::socket socket) {
    checks_->dropExpired();
    if (openConnections_.load() >= options_.maxConnections) {
        logger_.error("refused a connection: " + std::to_string(options_.maxConnections) +
                      " connections are open already");
        return;
    }
    asio::error_code error;
    FileDescriptor connection(socket.release(error));
    if (error) {
        return;
    }
    ++openConnections_;
    checks_->submit(std::move(connection));
}

// Verdicts run one at a time.
void HelperDaemon::refuse(pid_t pid) {
    --openConnections_;
    if (const auto heldBack = refusals_->permit()) {
        std::string line =
            "refused connection from pid " + std::to_string(pid) + ": not the pinned Quorvane app";
        if (*heldBack > 0) {
            line += " (" + std::to_string(*heldBack) + " more refused since the last report)";
        }
        logger_.error(line);
    }
}

void HelperDaemon::admit(FileDescriptor connection, std::shared_ptr<const PeerProcess> peer) {
    // Each connection on a strand of its own: its reads, writes and idle timer never overlap.
    asio::local::stream_protocol::socket socket(asio::make_strand(connections_));
    asio::error_code error;
    socket.assign(asio::local::stream_protocol(), connection.get(), error);
    if (error) {
        --openConnections_;
        return;
    }
    connection.release();
    serve(std::move(socket), std::move(peer));
}

void HelperDaemon::serve(asio::local::stream_protocol::socket socket,
                         std::shared_ptr<const PeerProcess> peer) {
    auto service = std::make_shared<HelperService>(
        *engine_, [authorization = authorization_, peer] { return authorization->mayControl(*peer); });
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
    signals_.async_wait([this](const std::error_code& error, int) {
        if (!error) {
            engine_->shutdown();
            mainLoop_.stop();
        }
    });
    for (int i = 0; i < options_.connectionThreads; ++i) {
        workers_.push_back(startSignalFreeThread([this] { connections_.run(); }));
    }
    // main blocks the stop signals until the handler is in place; one that came meanwhile is
    // taken now.
    sigset_t stops;
    sigemptyset(&stops);
    for (const int stop : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stops, stop);
    }
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    logger_.notice("listening for the app");
    mainLoop_.run();
    joinWorkers();
    return 0;
}

} // namespace quorvane
