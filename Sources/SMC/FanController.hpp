#pragma once

#include "Helpers/Clock.hpp"
#include "Helpers/Logger.hpp"
#include "SMC/FanInfo.hpp"
#include "SMC/HardwareCapabilities.hpp"
#include "SMC/SMCInterface.hpp"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

class SMCError;

// The one place that reads a fan's state and changes its mode or target: index and bounds checks
// against the probed hardware, and confirmation that every write has latched.
class FanController {
public:
    // The connection must already be open.
    explicit FanController(std::shared_ptr<SMCInterface> smc, Clock& clock = SteadyClock::shared());

    // Probes once and keeps the result for the controller's life.
    const HardwareCapabilities& probeCapabilities();
    FanInfo getFanInfo(int index);
    void setFanMode(int index, FanMode mode);
    // The fan must already be in manual mode.
    void setFanRPM(int index, std::int64_t rpm);
    // Always attempted: no probe lookup, no controllability check.
    void resetToAuto(int index);

    SMCInterface& smc() { return *smc_; }

    static constexpr double verificationTimeout = 10.0;
    static constexpr std::int64_t modeRetryIntervalMilliseconds = 100;
    static constexpr float targetTolerance = 2.0F;

private:
    void validateIndex(int index) const;
    FanCapability lookupFan(int index);
    void requireControllable(int index);
    FanMode readMode(int index);
    void writeModeWithTransientRetry(SMCKey key, std::uint8_t expected, const std::string& failureMessage);

    std::shared_ptr<SMCInterface> smc_;
    Clock& clock_;
    Logger logger_;
    std::optional<HardwareCapabilities> cachedCapabilities_;
    // The mode byte each fan last reported (none for a value that was not one byte).
    std::map<int, std::optional<std::uint8_t>> reportedModes_;
};

} // namespace quorvane
