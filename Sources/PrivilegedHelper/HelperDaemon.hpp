#pragma once

#include "PrivilegedHelper/HelperControlEngine.hpp"

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/signal_set.hpp>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorvane {

class AsioEngineScheduler;
class ControlAuthorization;
class FileDescriptor;
class LogRateLimiter;
class PeerCheckQueue;
class PeerProcess;
class ProcessTable;
class UnixSocketListener;

struct HelperDaemonOptions {
    // Where to listen, unless the service manager handed over a listening socket.
    std::string socketPath = defaultSocketPath();
    std::optional<int> activatedDescriptor;
    HelperEnginePaths enginePaths;
    // The SMC: the machine the environment chooses unless a test hands in its own transport; the
    // description names it in the log.
    std::string smcMachine;
    std::function<std::unique_ptr<SMCUserClient>()> makeSMCTransport;
    // Where competing fan daemons are looked for: /proc unless a test hands in its own list.
    std::function<std::unique_ptr<ProcessTable>()> makeProcessTable;
    // Whether the process at the other end may talk to the helper at all. Runs off the accept path
    // and may take long (it may hash an executable).
    std::function<bool(const PeerProcess&)> isAuthorizedClient;
    // Whether the person behind an admitted client may take the fans (a session); reading status
    // needs no more than admission. Polkit, else logind, unless a test hands in its own.
    std::function<std::unique_ptr<ControlAuthorization>()> makeControlAuthorization;
    int connectionThreads = 4;
    // Connections open at once, those still being checked included; more are closed at once.
    int maxConnections = 32;
    // A connection still waiting for its check this long is closed, freeing its place.
    std::chrono::milliseconds checkDeadline = std::chrono::seconds(10);
    // Refusals are logged at most once per this, with a count of those held back.
    std::chrono::milliseconds refusalLogInterval = std::chrono::seconds(5);
    // Ages queued checks and refusal lines; the steady clock unless a test hands in its own.
    Clock* clock = nullptr;
    // A connection that sends no whole frame for this long is closed.
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(30);

    static std::string defaultSocketPath();
    // Paths relocated by QUORVANE_HELPER_SOCKET, QUORVANE_HELPER_LOCK and QUORVANE_HELPER_MARKER, the
    // SMC as SMCMachine chooses it, and a socket handed over by systemd when there is one.
    static HelperDaemonOptions fromEnvironment();
};

// The helper as a running service: the engine (built first, so the fans are recovered before
// anyone can connect), a listener that admits only authorized clients, one service per
// connection, and an orderly shutdown on SIGTERM, SIGINT or SIGHUP.
//
// Threads: the main loop accepts and takes the signals (nothing slow runs there); peers are
// checked on their own threads, so a slow executable to hash holds up no accept, and a check that
// never ends holds up no exit; frames are served
// on the connection threads, each connection on its own strand. Every frame is checked against
// the process that was admitted, so a connection that outlives its process, or whose process has
// exec'd something else, is closed.
class HelperDaemon {
public:
    // The termination signals are caught from here on, before start-up recovery; one that arrives
    // during recovery ends run() as soon as it is called.
    explicit HelperDaemon(HelperDaemonOptions options);
    ~HelperDaemon();
    HelperDaemon(const HelperDaemon&) = delete;
    HelperDaemon& operator=(const HelperDaemon&) = delete;

    // Serves until SIGTERM, SIGINT, SIGHUP or stop(), then hands the fans back and returns the exit
    // status without waiting for a peer check still in progress (one may never end).
    int run();
    // Ends run() from any thread as a signal would.
    void stop();

    HelperControlEngine& engine() { return *engine_; }

    static constexpr int checkingThreads = 2;

private:
    void accept(asio::local::stream_protocol::socket socket);
    void admit(FileDescriptor connection, std::shared_ptr<const PeerProcess> peer);
    void refuse(pid_t pid);
    void serve(asio::local::stream_protocol::socket socket, std::shared_ptr<const PeerProcess> peer);
    void joinWorkers();

    HelperDaemonOptions options_;
    Logger logger_;
    asio::io_context mainLoop_;
    asio::signal_set signals_;
    std::unique_ptr<ProcessTable> processes_;
    std::unique_ptr<AsioEngineScheduler> scheduler_;
    std::unique_ptr<HelperControlEngine> engine_;
    std::shared_ptr<ControlAuthorization> authorization_;
    asio::io_context connections_;
    std::unique_ptr<LogRateLimiter> refusals_;
    std::unique_ptr<PeerCheckQueue> checks_;
    std::unique_ptr<UnixSocketListener> listener_;
    std::atomic<int> openConnections_{0};
    std::vector<std::thread> workers_;
};

} // namespace quorvane
