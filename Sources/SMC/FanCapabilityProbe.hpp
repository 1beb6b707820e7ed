#pragma once

#include "SMC/HardwareCapabilities.hpp"
#include "SMC/SMCInterface.hpp"

#include <optional>

namespace quorvane {

// Asks the SMC which fans exist and what each allows. Reads only; never throws.
class FanCapabilityProbe {
public:
    explicit FanCapabilityProbe(SMCInterface& smc) : smc_(smc) {}

    HardwareCapabilities probe();

    static bool isWritableUInt8(const SMCKeyInfo& info);
    static bool isWritableFloat(const SMCKeyInfo& info);

    static constexpr int maxFanIndex = 9;

private:
    std::optional<FanCapability> probeFan(int index);
    std::optional<SMCKeyInfo> keyInfo(SMCKey key);
    std::optional<std::int64_t> positiveRPM(SMCKey key);

    SMCInterface& smc_;
};

} // namespace quorvane
