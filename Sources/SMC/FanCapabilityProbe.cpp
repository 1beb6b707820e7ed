#include "SMC/FanCapabilityProbe.hpp"

#include "SMC/IOKitSMCBridge.hpp"

namespace quorvane {

namespace {

bool isWritable(const SMCKeyInfo& info, std::uint32_t size, const char* type) {
    return (info.dataAttributes & kSMCAttributeWritable) != 0 && info.dataSize == size &&
           IOKitSMCBridge::trimmedStringFromCode(info.dataType) == type;
}

} // namespace

bool FanCapabilityProbe::isWritableUInt8(const SMCKeyInfo& info) {
    return isWritable(info, 1, "ui8");
}

bool FanCapabilityProbe::isWritableFloat(const SMCKeyInfo& info) {
    return isWritable(info, 4, "flt");
}

HardwareCapabilities FanCapabilityProbe::probe() {
    HardwareCapabilities capabilities;
    for (int index = 0; index <= maxFanIndex; ++index) {
        if (auto fan = probeFan(index)) {
            capabilities.fans.push_back(*fan);
        }
    }
    auto lock = keyInfo(SMCKey::fanTestMode);
    capabilities.hasDiagnosticLock = lock && isWritableUInt8(*lock);
    return capabilities;
}

std::optional<FanCapability> FanCapabilityProbe::probeFan(int index) {
    auto actual = keyInfo(SMCKey::fan(index, "Ac"));
    auto mode = keyInfo(SMCKey::fan(index, "Md"));
    auto target = keyInfo(SMCKey::fan(index, "Tg"));
    if (!actual && !mode && !target) {
        return std::nullopt;
    }
    FanCapability fan;
    fan.index = index;
    fan.canReadRPM = actual.has_value();
    fan.canSwitchMode = mode && isWritableUInt8(*mode);
    fan.canSetTarget = target && isWritableFloat(*target);
    fan.minimumRPM = positiveRPM(SMCKey::fan(index, "Mn"));
    fan.maximumRPM = positiveRPM(SMCKey::fan(index, "Mx"));
    return fan;
}

std::optional<SMCKeyInfo> FanCapabilityProbe::keyInfo(SMCKey key) {
    try {
        return smc_.getKeyInfo(key);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::int64_t> FanCapabilityProbe::positiveRPM(SMCKey key) {
    try {
        const auto rpm = smc_.readFanRPM(key);
        if (rpm > 0) {
            return rpm;
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

} // namespace quorvane
