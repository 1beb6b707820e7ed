#include "Simulator/SMCProfileFiller.hpp"

#include <string>
#include <string_view>
#include <unordered_set>

namespace quorvane {

namespace {

// A subsystem's leading letter and the range its float readings fall in.
struct Subsystem {
    char letter;
    float low;
    float high;
};

constexpr Subsystem subsystems[] = {
    {'A', 0.0f, 1200.0f}, // ambient light and motion
    {'B', 0.0f, 100.0f},  // battery
    {'C', 0.0f, 24.0f},   // charger and clocks
    {'D', 0.0f, 20.5f},   // DC input and display
    {'G', 0.0f, 40.0f},   // graphics power
    {'H', 0.0f, 5.0f},    // input devices
    {'I', 0.0f, 8.0f},    // currents
    {'L', 0.0f, 1.0f},    // lid and lighting
    {'M', 0.0f, 64.0f},   // memory and housekeeping
    {'N', 0.0f, 10.0f},   // misc rails
    {'P', 0.0f, 45.0f},   // power
    {'R', 0.0f, 3.3f},    // regulators
    {'S', 0.0f, 100.0f},  // system state
    {'U', 0.0f, 20.0f},   // USB ports
    {'V', 0.5f, 20.5f},   // voltages
    {'W', 0.0f, 10.0f},   // wireless
};

constexpr std::string_view keyCharacters = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// splitmix64: small, fast and the same everywhere, unlike the standard distributions.
class Sequence {
public:
    explicit Sequence(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t value = (state_ += 0x9E3779B97F4A7C15ull);
        value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
        value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
        return value ^ (value >> 31);
    }
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }
    float between(float low, float high) {
        return low + (high - low) * static_cast<float>(next() >> 40) / static_cast<float>(1ull << 24);
    }

private:
    std::uint64_t state_;
};

SimulatedKey makeFiller(Sequence& sequence, const Subsystem& subsystem, const std::string& name) {
    // Mostly read-only; a few settings a client may change.
    const std::uint8_t attributes = sequence.below(25) == 0 ? 0xC0 : 0x80;
    const std::size_t kind = sequence.below(100);
    if (kind < 46) {
        // Two decimals, as real readings tend to be.
        const float value =
            static_cast<float>(static_cast<int>(sequence.between(subsystem.low, subsystem.high) * 100)) / 100;
        return SimulatedKey::flt(name, value, attributes);
    }
    if (kind < 62) {
        return SimulatedKey::ui8(name, static_cast<std::uint8_t>(sequence.below(256)), attributes);
    }
    if (kind < 72) {
        return SimulatedKey::ui16(name, static_cast<std::uint16_t>(sequence.below(65536)), attributes);
    }
    if (kind < 82) {
        return SimulatedKey::ui32(name, static_cast<std::uint32_t>(sequence.next()), attributes);
    }
    if (kind < 92) {
        return SimulatedKey::raw(name, "flag", {static_cast<std::uint8_t>(sequence.below(2))}, attributes);
    }
    std::vector<std::uint8_t> text(4 + sequence.below(13));
    for (auto& character : text) {
        character = static_cast<std::uint8_t>(keyCharacters[10 + sequence.below(26)]);
    }
    return SimulatedKey::raw(name, "ch8*", std::move(text), attributes);
}

} // namespace

void SMCProfileFiller::fillTo(std::vector<SimulatedKey>& keys, std::size_t total, std::uint64_t seed) {
    std::unordered_set<SMCKey> taken;
    for (const auto& entry : keys) {
        taken.insert(entry.key);
    }
    Sequence sequence(seed);
    while (keys.size() < total) {
        const auto& subsystem = subsystems[sequence.below(std::size(subsystems))];
        std::string name(1, subsystem.letter);
        for (int i = 0; i < 3; ++i) {
            name += keyCharacters[sequence.below(keyCharacters.size())];
        }
        if (!taken.insert(SMCKey::fromString(name)).second) {
            continue;
        }
        keys.push_back(makeFiller(sequence, subsystem, name));
    }
}

} // namespace quorvane
