#pragma once

#include "Platform/SMCSocketProtocol.hpp"

#include <chrono>
#include <string>

namespace quorvane {

// The machine's model identifier, as the app shows it and the helper gates fan control on: the
// simulated Mac's while it is the SMC in use (its socket answers), else the firmware's product
// name, else "Unknown Mac".
class HardwareModel {
public:
    struct Sources {
        std::string smcSocketPath = SMCSocketProtocol::socketPath();
        std::string productNamePath = "/sys/class/dmi/id/product_name";
        std::chrono::milliseconds timeout{1000};
    };

    static std::string identifier();
    static std::string identifier(const Sources& sources);

    static constexpr const char* unknown = "Unknown Mac";
};

} // namespace quorvane
