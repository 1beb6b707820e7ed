#pragma once

#include "SMC/SMCKey.hpp"
#include "SMC/SMCParamStruct.hpp"
#include "SMC/SMCUserClient.hpp"
#include "Simulator/SMCProfile.hpp"
#include "Simulator/SimulatedKey.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvane {

class Clock;

// Which exchanges an injected transient result answers.
enum class FaultScope { reads, writes, any };

// The simulated machine's SMC firmware: a sorted key table answering the 80-byte record protocol,
// the fan hand-over between the system thermal manager and a manual client, fan slewing, and
// faults on demand.
//
// Time only moves when the firmware looks at its clock: every exchange and every state call first
// brings pending latches and fan speeds up to the clock's present. Not synchronised and starts no
// threads; a server or thermal model that shares it across threads holds its own lock around it.
//
// Fans: a fan whose mode byte reads 1 slews toward its target key; in any other mode the firmware
// writes the automatic target into the target key and slews toward that. Where the profile needs
// the unlock, mode writes take only once "Ftst" has read 1 for the unlock delay, and then read back
// after the apply delay; "Ftst" 0 puts every fan back in mode 3 after the release delay, unless a
// new "Ftst" 1 arrives first.
class SimulatedAppleSMC {
public:
    // The clock must outlive the firmware. Duplicate profile keys: the last one wins. Throws
    // std::invalid_argument for a value longer than 32 bytes.
    SimulatedAppleSMC(SMCProfile profile, Clock& clock);

    SimulatedAppleSMC(const SimulatedAppleSMC&) = delete;
    SimulatedAppleSMC& operator=(const SimulatedAppleSMC&) = delete;

    // One structure call as the kernel would pass it on. A wrong selector or output size is refused
    // with a kernel-style code; otherwise the call succeeds and the firmware's verdict is the
    // record's result byte. Writes from an unprivileged caller are refused with the kernel's
    // not-privileged code before the firmware sees them. The output record carries the key, the
    // result and, by command, key info or value bytes; everything else is zero.
    std::uint32_t exchange(std::uint32_t selector, const SMCParamStruct& input, SMCParamStruct& output,
                           std::size_t& outputSize, bool privileged);

    // An in-process transport onto this firmware, which must outlive it.
    std::unique_ptr<SMCUserClient> makeUserClient(bool privileged = true);

    // Applies every latch, hand-back and speed change due up to the clock's present.
    void advanceToNow();

    std::uint64_t exchangeCount() const { return exchangeCount_; }
    const SMCProfile& profile() const { return profile_; }
    std::size_t keyCount() const { return table_.size(); }

    // State access for tests and the thermal model. These see and change the firmware's real state;
    // injected faults only affect what exchanges answer.
    std::optional<std::vector<std::uint8_t>> valueBytes(SMCKey key);
    // Throws std::out_of_range for a missing key and std::invalid_argument for a size mismatch.
    void setValueBytes(SMCKey key, std::vector<std::uint8_t> bytes);
    // Throws std::out_of_range for a missing key and std::invalid_argument for a key that is not "flt ".
    void setFloat(SMCKey key, float value);
    // Nullopt when the key is missing or not a "flt " key.
    std::optional<float> floatValue(SMCKey key);
    // Inserts in key order; a key already present is replaced. "#KEY" follows the table size.
    // Throws std::invalid_argument for a value longer than 32 bytes.
    void addKey(SimulatedKey key);
    // The speed the system's own fan curve asks of a fan in automatic or system mode; 0 lets the
    // fan stand still. Throws std::out_of_range for an index outside 0...9.
    void setAutomaticTarget(int fanIndex, float rpm);
    float automaticTarget(int fanIndex) const;

    // Faults. The next `count` reads and/or writes of the key (count < 0: all of them) answer
    // `result` without effect. A second injection on the same key replaces the first.
    void injectTransient(SMCKey key, std::uint8_t result, int count, FaultScope scope);
    // How many more exchanges an injected transient answers (negative: all); nullopt once spent.
    std::optional<int> transientRemaining(SMCKey key) const;
    // The key answers 0x84 to key info, read and write, as if it had vanished. It keeps its place in
    // the table, so "#KEY" and enumeration by index still list it.
    void hideKey(SMCKey key);
    // Every read of the key answers the byte in every position; writes are accepted and lost.
    void stickValue(SMCKey key, std::uint8_t byte);
    // Target writes to the fan are accepted but the target keeps its previous value.
    void setTargetNeverLatches(int fanIndex, bool neverLatches);
    void clearFaults();

    static constexpr int maxFans = 10;
    static constexpr std::uint8_t modeAutomatic = 0;
    static constexpr std::uint8_t modeManual = 1;
    static constexpr std::uint8_t modeSystem = 3;

private:
    struct PendingMode {
        std::uint8_t value = 0;
        std::int64_t appliesAt = 0;
    };

    struct Fan {
        bool present = false;
        float automaticTarget = 0;
        bool targetNeverLatches = false;
        // A target a client wrote while the fan was automatic (not system-held): the firmware
        // follows it until its own curve asks for something new or the mode changes.
        std::optional<float> clientTarget;
        std::optional<PendingMode> pendingMode;
        // Speed kept at full precision between slewing steps; the key holds it rounded.
        double exactActual = 0;
    };

    struct Transient {
        std::uint8_t result = 0;
        int remaining = 0;
        FaultScope scope = FaultScope::any;
    };

    SimulatedKey* find(SMCKey key);
    std::vector<SimulatedKey>::iterator lowerBound(SMCKey key);
    void insertSorted(SimulatedKey key);
    void refreshKeyCount();
    void detectFans();
    std::optional<std::uint8_t> byteValue(SMCKey key);
    bool fanIsManual(int index);

    std::uint8_t keyInfo(const SMCParamStruct& input, SMCParamStruct& output);
    std::uint8_t read(const SMCParamStruct& input, SMCParamStruct& output);
    std::uint8_t write(const SMCParamStruct& input);
    std::uint8_t keyByIndex(const SMCParamStruct& input, SMCParamStruct& output);
    std::optional<std::uint8_t> takeTransient(SMCKey key, bool isWrite);

    void store(SimulatedKey& entry, std::span<const std::uint8_t> bytes);
    void writeFanTestMode(SimulatedKey& entry, std::uint8_t value);
    void writeMode(int fanIndex, SimulatedKey& entry, std::uint8_t value);
    bool modesUnlocked() const;

    std::optional<std::int64_t> nextEvent() const;
    void fireEventsAt(std::int64_t time);
    void moveFans(std::int64_t milliseconds);

    SMCProfile profile_;
    Clock& clock_;
    std::vector<SimulatedKey> table_;
    std::int64_t now_;
    std::uint64_t exchangeCount_ = 0;
    std::array<Fan, maxFans> fans_{};

    // Unlock state: a written "Ftst" 1 waiting to read back, the moment mode writes start to
    // latch, and a pending hand-back to the system.
    std::optional<std::int64_t> ftstLatchesAt_;
    std::optional<std::int64_t> modesUnlockAt_;
    std::optional<std::int64_t> releaseAt_;

    std::unordered_map<SMCKey, Transient> transients_;
    std::unordered_set<SMCKey> hidden_;
    std::unordered_map<SMCKey, std::uint8_t> stuck_;
};

} // namespace quorvane
