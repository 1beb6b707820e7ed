#pragma once

#include "Platform/SocketSMCUserClient.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/ScaledClock.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Simulator/SimulatorServer.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quorvane::testing {

// A simulated Mac served on a socket in a temporary directory from its own thread. Its clock
// stands still; tests step it.
struct RunningSimulator {
    // Without a path the socket goes in a temporary directory of its own.
    explicit RunningSimulator(SMCProfile profile = SMCProfiles::mac15_11(),
                              PeerPolicy policy = PeerPolicy::standard(), std::string path = {})
        : clock(0), mac(std::move(profile), clock),
          server(io, mac,
                 options(path.empty() ? (directory.path() / "smc.sock").string() : path, std::move(policy))) {
        server.start();
        thread = std::thread([this] { io.run(); });
    }
    ~RunningSimulator() {
        asio::post(io, [this] { server.stop(); });
        thread.join();
    }

    std::string socketPath() const { return server.socketPath(); }

    // Steps simulated time and lets the physics catch up, as the server's timer would.
    void advance(std::int64_t milliseconds) {
        clock.advance(milliseconds);
        mac.advanceToNow();
    }

    std::shared_ptr<IOKitSMCBridge>
    bridge(SMCWriteCapability capability = SMCWriteCapability::privilegedHelper) {
        auto bridge = std::make_shared<IOKitSMCBridge>(
            std::make_unique<SocketSMCUserClient>(socketPath(), std::chrono::seconds(5)), capability);
        bridge->open();
        return bridge;
    }

    static SimulatorServer::Options options(std::string path, PeerPolicy policy) {
        SimulatorServer::Options options;
        options.socketPath = std::move(path);
        options.policy = std::move(policy);
        return options;
    }

    TemporaryDirectory directory;
    ScaledClock clock;
    SimulatedMac mac;
    asio::io_context io;
    SimulatorServer server;
    std::thread thread;
};

} // namespace quorvane::testing
