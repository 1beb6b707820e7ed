#include "SMC/SMCInterface.hpp"

#include "Helpers/Clock.hpp"

#include <cmath>
#include <functional>

namespace quorvane {

namespace {

bool pollUntil(SMCInterface& smc, SMCKey key, double timeoutSeconds, Clock& clock,
               const std::function<bool(const SMCValue&)>& matches) {
    const auto deadline =
        clock.nowMilliseconds() + static_cast<std::int64_t>(std::llround(timeoutSeconds * 1000.0));
    while (clock.nowMilliseconds() < deadline) {
        try {
            if (matches(smc.readKey(key))) {
                return true;
            }
        } catch (const std::exception&) {
            // A failed read is just another miss while waiting.
        }
        clock.sleepFor(SMCInterface::waitPollIntervalMilliseconds);
    }
    return false;
}

} // namespace

bool SMCInterface::waitForFloat(SMCKey key, float target, float tolerance, double timeoutSeconds,
                                Clock& clock) {
    return pollUntil(*this, key, timeoutSeconds, clock, [&](const SMCValue& value) {
        auto number = value.asFloat();
        return number && std::fabs(*number - target) <= tolerance;
    });
}

bool SMCInterface::waitForUInt8(SMCKey key, std::uint8_t target, double timeoutSeconds, Clock& clock) {
    return pollUntil(*this, key, timeoutSeconds, clock, [&](const SMCValue& value) {
        auto byte = value.asUInt8();
        return byte && *byte == target;
    });
}

} // namespace quorvane
