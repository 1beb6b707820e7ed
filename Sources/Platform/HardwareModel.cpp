#include "Platform/HardwareModel.hpp"

#include "Platform/FramedSocketClient.hpp"

#include <fstream>
#include <optional>

namespace quorvane {

namespace {

std::optional<std::string> simulatedModel(const HardwareModel::Sources& sources) {
    FramedSocketClient connection(sources.smcSocketPath, sources.timeout, SMCSocketProtocol::maxPayload);
    if (!connection.connect()) {
        return std::nullopt;
    }
    const auto payload = connection.request(SMCSocketProtocol::encodeRequest(
        SMCSocketProtocol::simple(SMCSocketProtocol::MessageType::modelIdentifier)));
    const auto reply = payload ? SMCSocketProtocol::decodeReply(*payload) : std::nullopt;
    if (!reply || reply->type != SMCSocketProtocol::MessageType::modelIdentifier || reply->text.empty()) {
        return std::nullopt;
    }
    return reply->text;
}

std::optional<std::string> productName(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return std::nullopt;
    }
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::string HardwareModel::identifier() {
    return identifier(Sources{});
}

std::string HardwareModel::identifier(const Sources& sources) {
    if (auto model = simulatedModel(sources)) {
        return *model;
    }
    if (auto name = productName(sources.productNamePath)) {
        return *name;
    }
    return unknown;
}

} // namespace quorvane
