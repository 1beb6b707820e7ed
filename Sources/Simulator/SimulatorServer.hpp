#pragma once

#include "Platform/FramedConnection.hpp"
#include "Platform/SMCSocketProtocol.hpp"
#include "Platform/UnixSocketListener.hpp"
#include "Simulator/PeerPolicy.hpp"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace quorvane {

class SimulatedMac;

// Serves a simulated Mac on a local socket (see SMCSocketProtocol): the user-client calls, the
// model identifier, and the control commands of `quorvane-sim ctl`. All connections share the one
// machine; a connection that sends a malformed frame is closed and the others carry on. The
// physics advances on a timer.
//
// Runs on one io context; start() and stop() are called on its thread (or before it runs).
class SimulatorServer {
public:
    struct Options {
        std::string socketPath = SMCSocketProtocol::socketPath();
        PeerPolicy policy = PeerPolicy::standard();
        std::chrono::milliseconds tickPeriod{100};
        // Runs after each physics step, on the server's thread.
        std::function<void()> onTick;
        // Reloads the machine's hwmon driver (`ctl hwmon reload`); unset when it keeps none.
        std::function<void()> onHwmonReload;
    };

    // Binds at once, so clients can connect from here on; throws SocketError when the path cannot
    // be served. The machine must outlive the server.
    SimulatorServer(asio::io_context& io, SimulatedMac& mac, Options options);
    ~SimulatorServer();

    SimulatorServer(const SimulatorServer&) = delete;
    SimulatorServer& operator=(const SimulatorServer&) = delete;

    void start();
    // Closes the listener and every connection, stops the physics timer and removes the socket file.
    void stop();

    // Open connections; readable from any thread.
    std::size_t connectionCount() const { return connectionCount_.load(); }
    const std::string& socketPath() const { return listener_.path(); }

    // One connection: what its peer may do, and whether it opened the user client.
    struct Session {
        pid_t pid = 0;
        bool maySMCWrite = false;
        bool mayControl = false;
        bool open = false;
        std::weak_ptr<FramedConnection> connection;
    };
    // The answer to one frame's payload; nullopt for a malformed one, which closes the connection.
    std::optional<FramedConnection::Payload> serve(Session& session, std::span<const std::uint8_t> payload);

private:
    using Sessions = std::list<std::shared_ptr<Session>>;

    void accept(UnixSocketListener::Socket socket);
    nlohmann::json control(Session& session, const nlohmann::json& command);
    void scheduleTick();

    SimulatedMac& mac_;
    Options options_;
    UnixSocketListener listener_;
    asio::steady_timer timer_;
    Sessions sessions_;
    // Record exchanges per client process, kept after it disconnects so a finished run can be read.
    std::map<int, std::uint64_t> exchangesByProcess_;
    std::atomic<std::size_t> connectionCount_{0};
    bool running_ = false;
};

} // namespace quorvane
