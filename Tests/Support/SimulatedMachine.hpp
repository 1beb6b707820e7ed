#pragma once

#include "Helpers/Clock.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Simulator/SimulatedKey.hpp"
#include "Support/RecordingUserClient.hpp"

#include <memory>
#include <vector>

namespace quorvane::testing {

// A firmware on a virtual clock with one open bridge onto it, recording every exchange.
struct SimulatedMachine {
    explicit SimulatedMachine(SMCProfile profile,
                              SMCWriteCapability capability = SMCWriteCapability::privilegedHelper,
                              IOKitSMCBridge::AuditHandler audit = {})
        : firmware(std::move(profile), clock), log(std::make_shared<ExchangeLog>()),
          bridge(std::make_shared<IOKitSMCBridge>(
              std::make_unique<RecordingUserClient>(firmware.makeUserClient(), log), capability,
              std::move(audit))) {
        bridge->open();
    }

    VirtualClock clock;
    SimulatedAppleSMC firmware;
    std::shared_ptr<ExchangeLog> log;
    std::shared_ptr<IOKitSMCBridge> bridge;
};

// A small machine of the given keys whose fans latch at once.
inline SMCProfile tableProfile(std::vector<SimulatedKey> keys) {
    SMCProfile profile;
    profile.name = "Test";
    profile.modelIdentifier = "Test1,1";
    profile.keys = std::move(keys);
    profile.fanTimings.requiresUnlock = false;
    return profile;
}

// Two controllable fans in the layout real machines use: 1200...6000 RPM, modes idling at `idleMode`.
inline std::vector<SimulatedKey> twoFanKeys() {
    std::vector<SimulatedKey> keys{SimulatedKey::ui8("FNum", 2)};
    for (const char* fan : {"F0", "F1"}) {
        const std::string prefix(fan);
        keys.push_back(SimulatedKey::flt(prefix + "Ac", 0, 0x85));
        keys.push_back(SimulatedKey::flt(prefix + "Mn", 1200, 0x84));
        keys.push_back(SimulatedKey::flt(prefix + "Mx", 6000, 0x84));
        keys.push_back(SimulatedKey::flt(prefix + "Tg", 0, 0xD4));
        keys.push_back(SimulatedKey::ui8(prefix + "Md", 0, 0xD0));
    }
    return keys;
}

} // namespace quorvane::testing
