#pragma once

#include "Client/TelemetrySnapshot.hpp"
#include "SMC/SMCKey.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace quorvane::testing {

// One poll's telemetry for the app model: the two fans as the firmware has them now, and zone
// temperatures chosen by the test (left zone driven by the P-cores, right by the GPU).
inline TelemetrySnapshot scriptedSnapshot(SimulatedAppleSMC& firmware, double left, double right,
                                          double hottest) {
    firmware.advanceToNow();
    TelemetrySnapshot result;
    for (int fan : {0, 1}) {
        auto key = [&](const char* suffix) {
            return *firmware.floatValue(SMCKey::fromString("F" + std::to_string(fan) + suffix));
        };
        const auto mode = firmware.valueBytes(SMCKey::fromString("F" + std::to_string(fan) + "Md"))->front();
        result.fans.push_back({fan, std::lround(key("Ac")), std::lround(key("Mn")), std::lround(key("Mx")),
                               mode == 1 ? FanMode::manual : FanMode::automatic, std::lround(key("Tg"))});
    }
    auto& average = result.average.emplace();
    average.temperature = std::min(left, right);
    average.cpuMaximumTemperature = hottest;
    average.hotspotTemperature = hottest;
    average.hasValidatedFanZoneTopology = true;
    average.fanZoneReadings = {{0, "Left", left, "CPU P-cores", {"Tp01"}, left, std::nullopt},
                               {1, "Right", right, "GPU", {"Tg0f"}, right, std::nullopt}};
    result.readings = {{"Tp01", "P-core 1", left}, {"Tg0f", "GPU 1", right}};
    result.helperState = HelperInstallState::enabled;
    return result;
}

} // namespace quorvane::testing
