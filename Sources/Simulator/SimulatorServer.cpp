#include "Simulator/SimulatorServer.hpp"

#include "SMC/IOKitReturn.hpp"
#include "Simulator/SimulatedFault.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Simulator/SimulatorError.hpp"
#include "Simulator/Workload.hpp"
#include "Simulator/WorkloadScript.hpp"

#include <nlohmann/json.hpp>

namespace quorvane {

using Type = SMCSocketProtocol::MessageType;

SimulatorServer::SimulatorServer(asio::io_context& io, SimulatedMac& mac, Options options)
    : mac_(mac), options_(std::move(options)), listener_(io, options_.socketPath), timer_(io) {}

SimulatorServer::~SimulatorServer() {
    stop();
}

void SimulatorServer::start() {
    if (running_) {
        return;
    }
    running_ = true;
    listener_.start([this](UnixSocketListener::Socket socket) { accept(std::move(socket)); });
    scheduleTick();
}

void SimulatorServer::stop() {
    running_ = false;
    listener_.close();
    timer_.cancel();
    // Closing runs each connection's close handler, which unlinks its session.
    const Sessions open = sessions_;
    for (const auto& session : open) {
        if (const auto connection = session->connection.lock()) {
            connection->close();
        }
    }
    sessions_.clear();
}

void SimulatorServer::accept(UnixSocketListener::Socket socket) {
    auto session = std::make_shared<Session>();
    if (const auto peer = PeerCredentials::of(socket.native_handle())) {
        session->pid = peer->pid;
        session->maySMCWrite = options_.policy.maySMCWrite && options_.policy.maySMCWrite(*peer);
        session->mayControl = options_.policy.mayControl && options_.policy.mayControl(*peer);
    }
    sessions_.push_back(session);
    const auto position = std::prev(sessions_.end());
    ++connectionCount_;
    session->connection = FramedConnection::start(
        std::move(socket), SMCSocketProtocol::maxPayload,
        [this, session](std::span<const std::uint8_t> payload) { return serve(*session, payload); },
        [this, position] {
            --connectionCount_;
            if (running_) {
                sessions_.erase(position);
            }
        });
}

std::optional<FramedConnection::Payload> SimulatorServer::serve(Session& session,
                                                                std::span<const std::uint8_t> payload) {
    const auto request = SMCSocketProtocol::decodeRequest(payload);
    if (!request) {
        return std::nullopt;
    }
    SMCSocketProtocol::Reply reply;
    reply.type = request->type;
    switch (request->type) {
    case Type::open:
        session.open = true;
        break;
    case Type::close:
        session.open = false;
        break;
    case Type::call: {
        if (!session.open) {
            reply.code = IOKitReturn::notOpen;
            break;
        }
        ++exchangesByProcess_[session.pid];
        std::size_t outputSize = request->outputCapacity;
        reply.code =
            mac_.exchange(request->selector, request->record, reply.record, outputSize, session.maySMCWrite);
        reply.outputSize = static_cast<std::uint32_t>(outputSize);
        break;
    }
    case Type::modelIdentifier:
        reply.text = mac_.modelIdentifier();
        break;
    case Type::control: {
        const auto command = nlohmann::json::parse(request->text, nullptr, false);
        if (command.is_discarded() || !command.is_object()) {
            return std::nullopt;
        }
        // Error texts may quote the command's bytes (a parser's "last read" included), cut inside a
        // character: replace what is not UTF-8 rather than throw past the connection.
        reply.text = control(session, command).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        break;
    }
    }
    return SMCSocketProtocol::encodeReply(reply);
}

namespace {

// A text field of a control command: empty when absent, and a malformed command when not text
// (reading it as text would throw past the connection and take the machine down).
std::string textField(const nlohmann::json& command, const char* key) {
    const auto found = command.find(key);
    if (found == command.end()) {
        return {};
    }
    if (!found->is_string()) {
        throw SimulatorError(std::string("Malformed control command: \"") + key + "\" must be text");
    }
    return found->get<std::string>();
}

} // namespace

nlohmann::json SimulatorServer::control(Session& session, const nlohmann::json& command) {
    try {
        const auto name = textField(command, "command");
        if (name == "status") {
            auto status = mac_.status();
            status.exchangesByProcess = exchangesByProcess_;
            return {{"ok", true}, {"status", status.toJSON()}};
        }
        if (name != "workload" && name != "fault" && name != "clear" && name != "hwmon-reload") {
            throw SimulatorError("Unknown control command \"" + name + "\"");
        }
        if (!session.mayControl) {
            throw SimulatorError("Only root or the user running the simulated Mac may change it");
        }
        if (name == "workload") {
            const auto workload = textField(command, "workload");
            if (command.contains("script")) {
                mac_.setWorkload(WorkloadScript::parse(textField(command, "script"), workload));
            } else {
                mac_.setWorkload(Workload::named(workload));
            }
        } else if (name == "hwmon-reload") {
            if (!options_.onHwmonReload) {
                throw SimulatorError("This simulated Mac keeps no macsmc_hwmon device (serve --hwmon DIR)");
            }
            options_.onHwmonReload();
        } else if (name == "fault") {
            mac_.injectFault(SimulatedFault::fromJSON(command.value("fault", nlohmann::json::object())));
        } else {
            mac_.clearFaults();
        }
        return {{"ok", true}, {"status", mac_.status().toJSON()}};
    } catch (const SimulatorError& error) {
        return {{"ok", false}, {"error", error.what()}};
    }
}

void SimulatorServer::scheduleTick() {
    timer_.expires_after(options_.tickPeriod);
    timer_.async_wait([this](const asio::error_code& error) {
        if (error || !running_) {
            return;
        }
        mac_.advanceToNow();
        if (options_.onTick) {
            options_.onTick();
        }
        scheduleTick();
    });
}

} // namespace quorvane
