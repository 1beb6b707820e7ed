#include "SMC/FanController.hpp"

#include "Helpers/AppIdentity.hpp"
#include "SMC/FanCapabilityProbe.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "SMC/SMCError.hpp"

#include <cmath>

namespace quorvane {

namespace {

std::string timeoutText() {
    return "10.0";
}

bool isTransient(const SMCError& error) {
    return error.kind() == SMCError::Kind::firmwareFailed &&
           (error.result() == 0x82 || error.result() == 0x83);
}

} // namespace

FanController::FanController(std::shared_ptr<SMCInterface> smc, Clock& clock)
    : smc_(std::move(smc)), clock_(clock), logger_(AppBundleIdentifier + ".core", "FanController") {}

const HardwareCapabilities& FanController::probeCapabilities() {
    if (!cachedCapabilities_) {
        cachedCapabilities_ = FanCapabilityProbe(*smc_).probe();
        logger_.notice(
            "probed hardware: " + std::to_string(cachedCapabilities_->fans.size()) +
            " fan(s), diagnostic lock: " + (cachedCapabilities_->hasDiagnosticLock ? "true" : "false"));
    }
    return *cachedCapabilities_;
}

void FanController::validateIndex(int index) const {
    if (index < 0 || index > FanCapabilityProbe::maxFanIndex) {
        throw SMCError::readFailed("fan index " + std::to_string(index) +
                                   " is outside the supported key range");
    }
}

FanCapability FanController::lookupFan(int index) {
    auto fan = probeCapabilities().fan(index);
    if (!fan) {
        throw SMCError::keyNotFound("fan " + std::to_string(index));
    }
    return *fan;
}

void FanController::requireControllable(int index) {
    validateIndex(index);
    if (!lookupFan(index).isControllable()) {
        throw SMCError::writeFailed("fan " + std::to_string(index) +
                                    " does not support manual control on this machine");
    }
}

FanMode FanController::readMode(int index) {
    const SMCValue value = smc_->readKey(SMCKey::fan(index, "Md"));
    const std::optional<std::uint8_t> byte = value.asUInt8();
    // Firmware idles fans in modes of its own (3 on Mac15,11), and every poll reads the mode: say so
    // when a fan's mode changes, not on every read.
    const auto last = reportedModes_.find(index);
    const bool changed = last == reportedModes_.end() || last->second != byte;
    reportedModes_[index] = byte;
    if (byte) {
        if (auto mode = fanModeFromRaw(*byte)) {
            return *mode;
        }
        if (changed) {
            logger_.notice("fan " + std::to_string(index) + " reported unrecognized mode " +
                           std::to_string(*byte) + "; treating as automatic");
        }
        return FanMode::automatic;
    }
    if (changed) {
        logger_.error("fan " + std::to_string(index) +
                      " mode key returned a non-ui8 value; treating as automatic");
    }
    return FanMode::automatic;
}

FanInfo FanController::getFanInfo(int index) {
    validateIndex(index);
    lookupFan(index);
    FanInfo info;
    info.index = index;
    info.actualRPM = smc_->readFanRPM(SMCKey::fan(index, "Ac"));
    info.minRPM = smc_->readFanRPM(SMCKey::fan(index, "Mn"));
    info.maxRPM = smc_->readFanRPM(SMCKey::fan(index, "Mx"));
    info.mode = readMode(index);
    try {
        info.targetRPM = smc_->readFanRPM(SMCKey::fan(index, "Tg"));
    } catch (const std::exception&) {
        info.targetRPM = std::nullopt;
    }
    if (info.minRPM < 1 || info.maxRPM < info.minRPM) {
        throw SMCError::readFailed("fan " + std::to_string(index) + " reported invalid RPM bounds");
    }
    return info;
}

void FanController::writeModeWithTransientRetry(SMCKey key, std::uint8_t expected,
                                                const std::string& failureMessage) {
    const auto matches = [&](const SMCValue& value) {
        return value.asUInt8() == expected;
    };
    if (matches(smc_->readKey(key))) {
        return;
    }
    const std::string keyText = IOKitSMCBridge::stringFromKey(key);
    const auto deadline = clock_.nowMilliseconds() + static_cast<std::int64_t>(verificationTimeout * 1000);
    long attempt = 0;
    std::optional<SMCError> lastTransient;
    while (clock_.nowMilliseconds() < deadline) {
        ++attempt;
        try {
            smc_->writeKeyUnverified(key, SMCValue::uint8(expected));
        } catch (const SMCError& error) {
            if (!isTransient(error)) {
                throw;
            }
            lastTransient = error;
            if (attempt == 1 || attempt % 10 == 0) {
                logger_.notice("transient SMC 0x" + lowercaseHex(error.result()) + " for " + keyText +
                               "; polling/retrying attempt " + std::to_string(attempt));
            }
        }
        try {
            if (matches(smc_->readKey(key))) {
                return;
            }
        } catch (const std::exception&) {
            // Not readable yet: keep trying until the deadline.
        }
        clock_.sleepFor(modeRetryIntervalMilliseconds);
    }
    if (lastTransient) {
        throw SMCError::writeFailed(failureMessage +
                                    " did not latch after transient SMC retries: " + lastTransient->what());
    }
    throw SMCError::writeFailed(failureMessage + " did not latch within " + timeoutText() + "s");
}

void FanController::setFanMode(int index, FanMode mode) {
    requireControllable(index);
    writeModeWithTransientRetry(SMCKey::fan(index, "Md"), rawValue(mode),
                                "fan " + std::to_string(index) + " mode " + std::to_string(rawValue(mode)));
}

void FanController::setFanRPM(int index, std::int64_t rpm) {
    requireControllable(index);
    const std::string fanText = "fan " + std::to_string(index);
    if (readMode(index) != FanMode::manual) {
        throw SMCError::writeFailed(fanText + " must be in manual mode before setting RPM");
    }
    const auto minimum = smc_->readFanRPM(SMCKey::fan(index, "Mn"));
    const auto maximum = smc_->readFanRPM(SMCKey::fan(index, "Mx"));
    if (maximum < minimum) {
        throw SMCError::writeFailed(fanText + " reported invalid RPM bounds");
    }
    if (rpm < minimum || rpm > maximum) {
        throw SMCError::writeFailed(fanText + " target " + std::to_string(rpm) + " is outside " +
                                    std::to_string(minimum) + "..." + std::to_string(maximum) + " RPM");
    }
    const SMCKey target = SMCKey::fan(index, "Tg");
    smc_->writeKeyUnverified(target, SMCValue::float32(static_cast<float>(rpm)));
    if (!smc_->waitForFloat(target, static_cast<float>(rpm), targetTolerance, verificationTimeout, clock_)) {
        throw SMCError::writeFailed(fanText + " target " + std::to_string(rpm) + " did not latch within " +
                                    timeoutText() + "s");
    }
}

void FanController::resetToAuto(int index) {
    validateIndex(index);
    const SMCKey key = SMCKey::fan(index, "Md");
    if (auto byte = smc_->readKey(key).asUInt8(); byte && isSystemManaged(*byte)) {
        return;
    }
    writeModeWithTransientRetry(key, 0, "fan " + std::to_string(index) + " automatic reset");
}

} // namespace quorvane
