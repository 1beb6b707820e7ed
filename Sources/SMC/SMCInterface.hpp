#pragma once

#include "SMC/SMCKey.hpp"
#include "SMC/SMCKeyInfo.hpp"
#include "SMC/SMCValue.hpp"

#include <cstdint>

namespace quorvane {

class Clock;

// An SMC connection. Not synchronised: each owner uses it from one thread or queue at a time.
class SMCInterface {
public:
    virtual ~SMCInterface() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    virtual SMCValue readKey(SMCKey key) = 0;
    // Guarded write followed by a read-back that must return the bytes written.
    virtual void writeKey(SMCKey key, const SMCValue& value) = 0;
    // Guarded write without read-back, for keys the firmware applies asynchronously.
    virtual void writeKeyUnverified(SMCKey key, const SMCValue& value) { writeKey(key, value); }
    virtual SMCKeyInfo getKeyInfo(SMCKey key) = 0;
    virtual SMCKey getKeyFromIndex(std::uint32_t index) = 0;
    virtual std::uint32_t getKeyCount() = 0;
    // Degrees Celsius; "flt" and "sp78" keys only; never non-finite.
    virtual double readTemperature(SMCKey key) = 0;
    // Whole RPM; "flt", "fpe2" and "fp2e" keys only; never negative.
    virtual std::int64_t readFanRPM(SMCKey key) = 0;

    // Polls the key every 200 ms until it reads as a float within tolerance of the target or the
    // timeout passes. Read errors count as no match.
    bool waitForFloat(SMCKey key, float target, float tolerance, double timeoutSeconds, Clock& clock);
    // Polls the key every 200 ms until it reads as that byte or the timeout passes.
    bool waitForUInt8(SMCKey key, std::uint8_t target, double timeoutSeconds, Clock& clock);

    static constexpr std::int64_t waitPollIntervalMilliseconds = 200;
};

} // namespace quorvane
