// The simulated Mac's socket protocol from both ends. The first byte says what the connection's
// peer may do (bit 0: write SMC keys, bit 1: change the machine); the rest is the byte stream it
// sends, cut into frames as the server reads them and each served against a simulated Mac15,11.
// Every payload is also read as a reply, as the app's and helper's transport reads what comes back.
//
// The machine and the server live across inputs; faults that control commands set are cleared every
// few dozen inputs.
#include "Helpers/Clock.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/SMCSocketProtocol.hpp"
#include "Platform/SocketFrame.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Simulator/SimulatorServer.hpp"

#include <algorithm>
#include <asio/io_context.hpp>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace quorvane;

namespace {

struct Silent final : LogSink {
    void write(const LogRecord&) override {}
};

struct Machine {
    Machine()
        : mac(*SMCProfiles::named("Mac15,11"), clock),
          server(io, mac,
                 SimulatorServer::Options{.socketPath = (std::filesystem::temp_directory_path() /
                                                         ("sim-fuzz-" + std::to_string(::getpid()) + ".sock"))
                                                            .string()}) {}
    // The server never started, so its socket file is still there.
    ~Machine() {
        std::error_code ignored;
        std::filesystem::remove(server.socketPath(), ignored);
    }

    VirtualClock clock{1'000'000};
    asio::io_context io;
    SimulatedMac mac;
    SimulatorServer server;
};

void checkRequestCodec(std::span<const std::uint8_t> payload) {
    if (const auto request = SMCSocketProtocol::decodeRequest(payload)) {
        const auto encoded = SMCSocketProtocol::encodeRequest(*request);
        if (!std::equal(encoded.begin(), encoded.end(), payload.begin(), payload.end())) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto silenced = Logger::setSink(std::make_shared<Silent>());
    static Machine machine;
    if (size == 0) {
        return 0;
    }
    SimulatorServer::Session session;
    session.maySMCWrite = (data[0] & 1) != 0;
    session.mayControl = (data[0] & 2) != 0;
    bool changedTheMachine = false;
    std::span<const std::uint8_t> stream(data + 1, size - 1);
    while (stream.size() >= SocketFrame::headerSize) {
        SocketFrame::Header header{};
        std::copy_n(stream.begin(), SocketFrame::headerSize, header.begin());
        const auto length = SocketFrame::payloadSize(header, SMCSocketProtocol::maxPayload);
        if (!length || *length > stream.size() - SocketFrame::headerSize) {
            break;
        }
        const auto payload = stream.subspan(SocketFrame::headerSize, *length);
        stream = stream.subspan(SocketFrame::headerSize + *length);
        checkRequestCodec(payload);
        changedTheMachine = changedTheMachine ||
                            payload[0] == static_cast<std::uint8_t>(SMCSocketProtocol::MessageType::control);
        SMCSocketProtocol::decodeReply(payload);
        const auto reply = machine.server.serve(session, payload);
        if (!reply) {
            break;
        }
        // Every answer is one the client side can read, of the request's type.
        const auto decoded = SMCSocketProtocol::decodeReply(*reply);
        if (!decoded || static_cast<std::uint8_t>(decoded->type) != payload[0]) {
            std::abort();
        }
    }
    // Clearing also steps the physics, the costliest thing here: faults may pile up over a few inputs.
    static int changes = 0;
    if (changedTheMachine && ++changes % 64 == 0) {
        machine.mac.clearFaults();
    }
    return 0;
}
