#include "Platform/HardwareModel.hpp"

#include "Platform/FramedSocketClient.hpp"

#include <array>
#include <fstream>
#include <iterator>
#include <utility>

namespace quorvane {

namespace {

// Apple-silicon boards as the device tree names them, the Mac each one is, and whether it is a laptop.
struct Board {
    std::string_view name;
    std::string_view model;
    bool laptop;
};
constexpr std::array<Board, 45> boards{{
    {"apple,j274", "Macmini9,1", false},     {"apple,j293", "MacBookPro17,1", true},
    {"apple,j313", "MacBookAir10,1", true},  {"apple,j456", "iMac21,1", false},
    {"apple,j457", "iMac21,2", false},       {"apple,j314s", "MacBookPro18,3", true},
    {"apple,j314c", "MacBookPro18,4", true}, {"apple,j316s", "MacBookPro18,1", true},
    {"apple,j316c", "MacBookPro18,2", true}, {"apple,j375c", "Mac13,1", false},
    {"apple,j375d", "Mac13,2", false},       {"apple,j413", "Mac14,2", true},
    {"apple,j415", "Mac14,15", true},        {"apple,j493", "Mac14,7", true},
    {"apple,j473", "Mac14,3", false},        {"apple,j474s", "Mac14,12", false},
    {"apple,j414s", "Mac14,9", true},        {"apple,j414c", "Mac14,5", true},
    {"apple,j416s", "Mac14,10", true},       {"apple,j416c", "Mac14,6", true},
    {"apple,j475c", "Mac14,13", false},      {"apple,j475d", "Mac14,14", false},
    {"apple,j180d", "Mac14,8", false},       {"apple,j504", "Mac15,3", true},
    {"apple,j433", "Mac15,4", false},        {"apple,j434", "Mac15,5", false},
    {"apple,j514s", "Mac15,6", true},        {"apple,j516s", "Mac15,7", true},
    {"apple,j514c", "Mac15,8", true},        {"apple,j516c", "Mac15,9", true},
    {"apple,j514m", "Mac15,10", true},       {"apple,j516m", "Mac15,11", true},
    {"apple,j613", "Mac15,12", true},        {"apple,j615", "Mac15,13", true},
    {"apple,j604", "Mac16,1", true},         {"apple,j614s", "Mac16,8", true},
    {"apple,j614c", "Mac16,6", true},        {"apple,j616s", "Mac16,7", true},
    {"apple,j616c", "Mac16,5", true},        {"apple,j623", "Mac16,2", false},
    {"apple,j624", "Mac16,3", false},        {"apple,j713", "Mac16,12", true},
    {"apple,j715", "Mac16,13", true},        {"apple,j773g", "Mac16,10", false},
    {"apple,j773s", "Mac16,11", false},
}};

std::optional<std::string> simulatedModel(const std::string& socketPath, std::chrono::milliseconds timeout) {
    FramedSocketClient connection(socketPath, timeout, SMCSocketProtocol::maxPayload);
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
    if (sources.smcSocketPath) {
        if (auto model = simulatedModel(*sources.smcSocketPath, sources.timeout)) {
            return *model;
        }
    }
    if (auto name = board(sources.deviceTreePath)) {
        return modelForBoard(*name).value_or(std::string(unknown) + " (" + *name + ")");
    }
    if (auto name = productName(sources.productNamePath)) {
        return *name;
    }
    return unknown;
}

std::optional<std::string> HardwareModel::board(const std::string& deviceTreePath) {
    std::ifstream file(deviceTreePath + "/compatible", std::ios::binary);
    const std::string list{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // NUL-separated, most specific first: the board, then the chip, then the platform.
    for (std::size_t start = 0; start < list.size();) {
        const auto end = std::min(list.find('\0', start), list.size());
        const std::string entry = list.substr(start, end - start);
        if (entry.starts_with("apple,")) {
            return entry;
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> HardwareModel::modelForBoard(std::string_view board) {
    for (const auto& entry : boards) {
        if (entry.name == board) {
            return std::string(entry.model);
        }
    }
    return std::nullopt;
}

std::optional<std::string> HardwareModel::boardForModel(std::string_view modelIdentifier) {
    for (const auto& entry : boards) {
        if (entry.model == modelIdentifier) {
            return std::string(entry.name);
        }
    }
    return std::nullopt;
}

std::optional<bool> HardwareModel::isLaptop(std::string_view board) {
    for (const auto& entry : boards) {
        if (entry.name == board) {
            return entry.laptop;
        }
    }
    return std::nullopt;
}

} // namespace quorvane
