#pragma once

#include "PrivilegedHelper/HelperControlEngine.hpp"

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace quorvane {

class AsioEngineScheduler;
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
    // Whether the process at the other end may talk to the helper at all.
    std::function<bool(pid_t)> isAuthorizedClient;
    int connectionThreads = 4;

    static std::string defaultSocketPath();
    // Paths relocated by QUORVANE_HELPER_SOCKET, QUORVANE_HELPER_LOCK and QUORVANE_HELPER_MARKER, the
    // SMC as SMCMachine chooses it, and a socket handed over by systemd when there is one.
    static HelperDaemonOptions fromEnvironment();
};

// The helper as a running service: the engine (built first, so the fans are recovered before
// anyone can connect), a listener that admits only authorized clients, one service per
// connection, and an orderly shutdown on SIGTERM or SIGINT.
class HelperDaemon {
public:
    explicit HelperDaemon(HelperDaemonOptions options);
    ~HelperDaemon();
    HelperDaemon(const HelperDaemon&) = delete;
    HelperDaemon& operator=(const HelperDaemon&) = delete;

    // Serves until SIGTERM, SIGINT or stop(), then hands the fans back. Returns the exit status.
    int run();
    // Ends run() from any thread as a signal would.
    void stop();

    HelperControlEngine& engine() { return *engine_; }

private:
    void accept(asio::local::stream_protocol::socket socket);
    void listenOnActivatedSocket(int descriptor);

    HelperDaemonOptions options_;
    Logger logger_;
    std::unique_ptr<ProcessTable> processes_;
    std::unique_ptr<AsioEngineScheduler> scheduler_;
    std::unique_ptr<HelperControlEngine> engine_;
    asio::io_context mainLoop_;
    asio::io_context connections_;
    std::unique_ptr<UnixSocketListener> listener_;
    std::unique_ptr<asio::local::stream_protocol::acceptor> activated_;
    std::vector<std::thread> threads_;
};

} // namespace quorvane
