#pragma once

#include "Helpers/Clock.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "SMC/SMCUserClient.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Simulator/SimulatedKey.hpp"

#include <memory>
#include <optional>
#include <vector>

namespace quorvane::testing {

// What a test wants to see of and do to the exchanges between a bridge and its transport.
struct ExchangeLog {
    std::vector<SMCParamStruct> inputs;
    int opens = 0;
    int closes = 0;
    // When set, replaces the transport's answer: return code and output size.
    std::optional<std::uint32_t> forcedCode;
    std::optional<std::size_t> forcedOutputSize;
    // Without an inner transport: whether the service is there and what opening it answers.
    bool serviceExists = true;
    std::uint32_t openCode = 0;
};

// Passes every call to an inner transport (or answers alone when there is none) and records it.
class RecordingUserClient final : public SMCUserClient {
public:
    RecordingUserClient(std::unique_ptr<SMCUserClient> inner, std::shared_ptr<ExchangeLog> log)
        : inner_(std::move(inner)), log_(std::move(log)) {}

    bool serviceExists() override { return inner_ ? inner_->serviceExists() : log_->serviceExists; }
    std::uint32_t open() override {
        ++log_->opens;
        return inner_ ? inner_->open() : log_->openCode;
    }
    void close() override {
        ++log_->closes;
        if (inner_) {
            inner_->close();
        }
    }
    std::uint32_t callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                   SMCParamStruct& output, std::size_t& outputSize) override {
        log_->inputs.push_back(input);
        std::uint32_t code = inner_ ? inner_->callStructMethod(selector, input, output, outputSize) : 0;
        if (log_->forcedOutputSize) {
            outputSize = *log_->forcedOutputSize;
        }
        return log_->forcedCode.value_or(code);
    }

private:
    std::unique_ptr<SMCUserClient> inner_;
    std::shared_ptr<ExchangeLog> log_;
};

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

// Two controllable fans in the layout real machines use: 1200...6000 RPM, both in automatic mode.
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
