#include "Platform/SocketSMCUserClient.hpp"

#include "SMC/IOKitReturn.hpp"

namespace quorvane {

using Type = SMCSocketProtocol::MessageType;

SocketSMCUserClient::SocketSMCUserClient(std::string socketPath, std::chrono::milliseconds timeout)
    : connection_(std::move(socketPath), timeout, SMCSocketProtocol::maxPayload) {}

bool SocketSMCUserClient::serviceExists() {
    return connection_.connect();
}

std::uint32_t SocketSMCUserClient::open() {
    const std::uint32_t code = openConnection();
    open_ = code == IOKitReturn::success;
    return code;
}

void SocketSMCUserClient::close() {
    if (open_ && connection_.isConnected()) {
        exchange(SMCSocketProtocol::simple(Type::close));
    }
    connection_.disconnect();
    open_ = false;
}

std::uint32_t SocketSMCUserClient::callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                                    SMCParamStruct& output, std::size_t& outputSize) {
    if (!open_) {
        return IOKitReturn::notOpen;
    }
    if (!connection_.isConnected() && openConnection() != IOKitReturn::success) {
        return IOKitReturn::notResponding;
    }
    const auto reply = exchange(SMCSocketProtocol::call(selector, input, outputSize));
    if (!reply || reply->type != Type::call) {
        connection_.disconnect();
        return IOKitReturn::notResponding;
    }
    if (reply->code == IOKitReturn::success) {
        output = reply->record;
        outputSize = reply->outputSize;
    }
    return reply->code;
}

std::optional<SMCSocketProtocol::Reply>
SocketSMCUserClient::exchange(const SMCSocketProtocol::Request& request) {
    const auto payload = connection_.request(SMCSocketProtocol::encodeRequest(request));
    if (!payload) {
        return std::nullopt;
    }
    return SMCSocketProtocol::decodeReply(*payload);
}

std::uint32_t SocketSMCUserClient::openConnection() {
    if (!connection_.connect()) {
        return IOKitReturn::notResponding;
    }
    const auto reply = exchange(SMCSocketProtocol::simple(Type::open));
    if (!reply || reply->type != Type::open) {
        connection_.disconnect();
        return IOKitReturn::notResponding;
    }
    return reply->code;
}

} // namespace quorvane
