#pragma once

#include "Simulator/SimulatedAppleSMC.hpp"

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace quorvane {

// A fault to inject into a running simulated Mac: the firmware's (a transient result for a key,
// a missing key, a stuck value, a fan whose target never latches) and the sensors' (a channel that
// drops out and reads 0, a channel that spikes for a while).
struct SimulatedFault {
    enum class Kind { transient, missing, stuck, targetIgnored, dropout, spike };

    Kind kind = Kind::transient;
    // Four characters; every kind but targetIgnored.
    std::string key;
    // targetIgnored: the fan.
    int fan = 0;
    // transient: the firmware result answered; stuck: the byte every read returns.
    std::uint8_t byte = 0x82;
    // transient: how many exchanges answer it; a negative count means all of them.
    int count = 1;
    FaultScope scope = FaultScope::any;
    // spike: how far the reading jumps, and for how long in simulated seconds.
    double celsius = 35.0;
    double seconds = 10.0;

    std::string description() const;
    nlohmann::json toJSON() const;
    // Both throw SimulatorError with a message saying what is wrong.
    static SimulatedFault fromJSON(const nlohmann::json& value);
    // The words after "fault" on the control command line, e.g. {"transient", "F0Md", "0x82"}.
    static SimulatedFault parse(const std::vector<std::string>& words);
    static std::string usage();
};

} // namespace quorvane
