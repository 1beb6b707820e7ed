#pragma once

#include "Platform/SMCSocketProtocol.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// The machine's model identifier, as the app shows it and the helper gates fan control on: the
// simulated Mac's while it is the SMC in use (its socket answers), else the Apple-silicon board
// named by the device tree, else the firmware's product name, else "Unknown Mac".
class HardwareModel {
public:
    struct Sources {
        // Asked first when set: the simulated Mac serving this socket.
        std::optional<std::string> smcSocketPath = SMCSocketProtocol::socketPath();
        std::string deviceTreePath = "/proc/device-tree";
        std::string productNamePath = "/sys/class/dmi/id/product_name";
        std::chrono::milliseconds timeout{1000};
    };

    static std::string identifier();
    static std::string identifier(const Sources& sources);

    // The first "apple,..." entry of the device tree's compatible list, e.g. "apple,j314s".
    static std::optional<std::string> board(const std::string& deviceTreePath);
    // Known boards and their model identifiers, both ways.
    static std::optional<std::string> modelForBoard(std::string_view board);
    static std::optional<std::string> boardForModel(std::string_view modelIdentifier);
    // Whether a known board is a laptop (battery, charger) rather than a desktop.
    static std::optional<bool> isLaptop(std::string_view board);

    static constexpr const char* unknown = "Unknown Mac";
};

} // namespace quorvane
