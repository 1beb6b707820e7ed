#include "Simulator/SMCProfiles.hpp"

#include "Simulator/SMCProfileFiller.hpp"

#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace quorvane {

namespace {

struct Reading {
    std::string_view key;
    float celsius;
};

// A run of channels sharing a prefix, one per suffix character, spread evenly over
// [base, base + spread] in a scrambled order so neighbours differ.
struct Family {
    std::string_view prefix;
    std::string_view suffixes;
    float base;
    float spread;
};

using TemperatureTable = std::map<std::string, float>;

void addFamilies(TemperatureTable& table, std::initializer_list<Family> families) {
    for (const auto& family : families) {
        for (std::size_t i = 0; i < family.suffixes.size(); ++i) {
            const float position = static_cast<float>((i * 7) % 10) / 9.0f;
            // Two decimals, as the firmware's readings look in dumps.
            const float value =
                static_cast<float>(static_cast<int>((family.base + family.spread * position) * 100)) / 100;
            table[std::string(family.prefix) + family.suffixes[i]] = value;
        }
    }
}

void addReadings(TemperatureTable& table, std::initializer_list<Reading> readings) {
    for (const auto& reading : readings) {
        table[std::string(reading.key)] = reading.celsius;
    }
}

void appendTemperatures(std::vector<SimulatedKey>& keys, const TemperatureTable& table) {
    for (const auto& [name, celsius] : table) {
        keys.push_back(SimulatedKey::flt(name, celsius));
    }
}

struct FanLimits {
    float minimum;
    float maximum;
};

// Attributes as T2 machines report them; Apple silicon is taken to match.
void appendFans(std::vector<SimulatedKey>& keys, std::initializer_list<FanLimits> fans,
                std::uint8_t idleMode) {
    keys.push_back(SimulatedKey::ui8("FNum", static_cast<std::uint8_t>(fans.size())));
    int index = 0;
    for (const auto& fan : fans) {
        const std::string prefix = "F" + std::to_string(index++);
        keys.push_back(SimulatedKey::flt(prefix + "Ac", 0.0f, 0x85));
        keys.push_back(SimulatedKey::flt(prefix + "Mn", fan.minimum, 0x84));
        keys.push_back(SimulatedKey::flt(prefix + "Mx", fan.maximum, 0x84));
        keys.push_back(SimulatedKey::flt(prefix + "Tg", 0.0f, 0xD4));
        keys.push_back(SimulatedKey::ui8(prefix + "Md", idleMode, 0xD0));
    }
}

// The power keys the physics keeps current: the whole machine's draw everywhere, the heat pipes'
// load only where fans cool them. Values are overwritten at the first advance.
void appendPowerChannels(std::vector<SimulatedKey>& keys, bool heatpipes) {
    keys.push_back(SimulatedKey::flt("PSTR", 0.0f));
    if (heatpipes) {
        keys.push_back(SimulatedKey::flt("PHPC", 0.0f));
    }
}

// Fills to the machine's key count and states "#KEY" as part of the data.
void finish(std::vector<SimulatedKey>& keys, std::size_t total, std::uint64_t seed) {
    const std::size_t countIndex = keys.size();
    keys.push_back(SimulatedKey::ui32("#KEY", 0));
    SMCProfileFiller::fillTo(keys, total, seed);
    keys[countIndex] = SimulatedKey::ui32("#KEY", static_cast<std::uint32_t>(keys.size()));
}

// M3 Max warm idle, from two public key dumps.
TemperatureTable mac15_11Temperatures() {
    TemperatureTable table;
    addFamilies(table, {
                           // Core and fabric banks; named channels are overwritten below.
                           {"Tf0", "0123456789ABCDEF", 31.0f, 6.0f},
                           {"Tf1", "0123456789ABCDEF", 31.0f, 6.0f},
                           {"Tf2", "0123456789ABCDEF", 31.0f, 6.0f},
                           {"Tf3", "0123456789ABCDEF", 31.0f, 6.0f},
                           {"Tf4", "0123456789ABCDEF", 31.0f, 6.0f},
                           {"Te0", "0123456789ABCDEFGHIJKLMNOPQRST", 38.0f, 4.0f},
                           // Further core probes.
                           {"Tp0", "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef", 47.7f, 14.0f},
                           // GPU clusters.
                           {"Tg0", "0123456789ABCDEFGHIJKLMNOPQRSTUV", 33.0f, 8.0f},
                           {"Tg1", "0123456789ABCDEF", 33.0f, 8.0f},
                           // SoC heatsink, board diodes, power delivery, memory.
                           {"Th0", "0123456789ABCDE", 35.5f, 1.0f},
                           {"TD0", "0123456789", 27.0f, 5.0f},
                           {"TPD", "0123456789", 29.0f, 6.0f},
                           {"Tm0", "0123456789A", 33.0f, 4.0f},
                           // Placeholders that always read 40.
                           {"Tp1", "ghijklmnopqrstu", 40.0f, 0.0f},
                           {"Tp2", "ghijklmnopqrstu", 40.0f, 0.0f},
                           {"Tp3", "abcdefghij", 40.0f, 0.0f},
                           // Unused channels.
                           {"Tz1", "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghij", 0.0f, 0.0f},
                       });
    // clang-format off
    addReadings(table, {
        // Efficiency cores.
        {"Te05", 42.3f}, {"Te0L", 43.8f}, {"Te0P", 41.5f}, {"Te0S", 42.9f},
        // Performance bank A.
        {"Tf04", 38.2f}, {"Tf09", 40.2f}, {"Tf0A", 36.1f}, {"Tf0B", 37.4f}, {"Tf0D", 39.0f}, {"Tf0E", 36.8f},
        // Performance bank B.
        {"Tf44", 36.0f}, {"Tf49", 36.3f}, {"Tf4A", 35.8f}, {"Tf4B", 36.1f}, {"Tf4D", 36.4f}, {"Tf4E", 35.9f},
        // GPU bank A.
        {"Tf14", 34.6f}, {"Tf18", 35.6f}, {"Tf19", 35.1f}, {"Tf1A", 34.9f},
        // GPU bank B.
        {"Tf24", 35.5f}, {"Tf28", 35.4f}, {"Tf29", 35.6f}, {"Tf2A", 35.3f},
        // Placeholders that always read 1.
        {"Tf0C", 1.0f}, {"Tf1C", 1.0f}, {"Tf3C", 1.0f}, {"Tf4C", 1.0f},
        // Hotspots: between the dumps' warm and cool readings.
        {"TCMz", 56.3f}, {"TCMb", 53.5f}, {"TRDX", 39.8f},
        // Chassis, left and right.
        {"TaLP", 30.0f}, {"TaLT", 22.9f}, {"TaLW", 24.3f}, {"TDeL", 25.9f}, {"Ts0P", 22.4f}, {"TaRF", 32.2f},
        {"TaRT", 23.4f}, {"TaRW", 24.2f}, {"TDeR", 26.3f}, {"Ts1P", 20.6f},
        // Ambient, battery, charger, die aggregate, boards, flash.
        {"TAOL", 23.8f}, {"TaTP", 32.6f}, {"TB0T", 22.7f}, {"TB1T", 22.7f}, {"TB2T", 22.7f}, {"TCHP", 27.7f},
        {"TCDX", 40.2f}, {"TDBP", 26.9f}, {"TDTP", 28.7f}, {"TH0a", 22.8f}, {"TH0b", 22.8f},
        // Regulators, power, SSD, Wi-Fi, virtual sensors.
        {"TMVR", 28.8f}, {"TSVR", 30.1f}, {"TSWR", 31.4f}, {"TSXR", 29.6f}, {"TPMP", 29.5f}, {"TPSP", 31.2f},
        {"TPDX", 35.4f}, {"TS0P", 29.9f}, {"TW0P", 31.5f}, {"TVD0", 53.5f}, {"TVA0", 18.8f},
        // Core probes named in the dumps.
        {"Tp05", 52.1f}, {"Tp0D", 58.3f}, {"Tp0L", 47.7f}, {"Tp0b", 67.4f}, {"Tp0c", 61.0f},
        // GPU clusters; power-gated ones report sentinels below ambient.
        {"Tg04", 41.1f}, {"Tg05", 35.4f}, {"Tg0K", -2.75f}, {"Tg0L", -8.75f}, {"Tg0S", 0.0f}, {"Tg0T", -2.75f},
        {"Tg1C", -8.75f}, {"Tg1D", 0.0f},
    });
    // clang-format on
    return table;
}

// Shared by the M2 machines: cores as "Tp" and "Te" keys, GPU as "Tg", no "Tf" banks.
TemperatureTable m2Temperatures(std::string_view performanceSuffixes, std::string_view gpuSuffixes) {
    TemperatureTable table;
    addFamilies(table, {
                           {"Tp0", performanceSuffixes, 38.0f, 6.0f},
                           {"Te0", "5LPS", 34.0f, 3.0f},
                           {"Tg0", gpuSuffixes, 33.0f, 4.0f},
                           {"Th0", "012345", 33.0f, 1.5f},
                           {"TPD", "0123", 29.0f, 4.0f},
                       });
    // clang-format off
    addReadings(table, {
        {"TaLP", 29.1f}, {"TaRF", 30.4f}, {"TB0T", 24.6f}, {"TB1T", 24.5f}, {"TB2T", 24.7f}, {"Ts0P", 26.0f},
        {"Ts1P", 25.1f}, {"TW0P", 33.2f}, {"TH0a", 28.4f}, {"TH0b", 28.1f}, {"TCHP", 27.0f}, {"TVD0", 41.8f},
        {"TVA0", 22.9f}, {"TAOL", 23.5f}, {"TPMP", 30.2f}, {"TPSP", 30.8f}, {"TMVR", 29.0f},
    });
    // clang-format on
    return table;
}

SMCProfile makeMac15_11() {
    SMCProfile profile;
    profile.name = "Mac15,11";
    profile.modelIdentifier = "Mac15,11";
    profile.description = "14-inch MacBook Pro, M3 Max, two fans";
    profile.verifiedTopology = true;
    auto& keys = profile.keys;
    appendFans(keys, {{1200.0f, 6900.0f}, {1200.0f, 7450.0f}}, 3);
    keys.push_back(SimulatedKey::ui8("Ftst", 0, 0xD0));
    appendTemperatures(keys, mac15_11Temperatures());
    // Eight-byte fixed-point channels of unknown meaning.
    // clang-format off
    constexpr std::pair<std::string_view, double> fixedPointChannels[] = {
        {"TG0B", 22.7}, {"TG0C", 51.9}, {"TG0H", 23.4}, {"TG0V", 50.6}, {"TG1B", 22.9},
        {"TG2B", 23.1}, {"TR0Z", 51.9}, {"TR1d", 24.5}, {"TR2d", 24.8},
    };
    // clang-format on
    for (const auto& [name, value] : fixedPointChannels) {
        keys.push_back(SimulatedKey::ioft(name, value));
    }
    appendPowerChannels(keys, true);
    finish(keys, 2808, 0x4D3331);
    return profile;
}

SMCProfile makeMac14_6() {
    SMCProfile profile;
    profile.name = "Mac14,6";
    profile.modelIdentifier = "Mac14,6";
    profile.description = "16-inch MacBook Pro, M2 Max, two fans";
    profile.verifiedTopology = false;
    profile.fanTimings.requiresUnlock = false;
    appendFans(profile.keys, {{1200.0f, 5348.0f}, {1200.0f, 5776.0f}}, 0);
    appendTemperatures(profile.keys, m2Temperatures("159DHLPTXbfj", "5DLTbjKS"));
    appendPowerChannels(profile.keys, true);
    finish(profile.keys, 1512, 0x4D3236);
    return profile;
}

SMCProfile makeMac14_2() {
    SMCProfile profile;
    profile.name = "Mac14,2";
    profile.modelIdentifier = "Mac14,2";
    profile.description = "MacBook Air, M2, fanless";
    profile.verifiedTopology = false;
    profile.fanTimings.requiresUnlock = false;
    profile.keys.push_back(SimulatedKey::ui8("FNum", 0));
    appendTemperatures(profile.keys, m2Temperatures("159D", "5DLT"));
    appendPowerChannels(profile.keys, false);
    finish(profile.keys, 1396, 0x4D3232);
    return profile;
}

} // namespace

SMCProfile SMCProfiles::mac15_11() {
    static const SMCProfile profile = makeMac15_11();
    return profile;
}

SMCProfile SMCProfiles::mac14_6() {
    static const SMCProfile profile = makeMac14_6();
    return profile;
}

SMCProfile SMCProfiles::mac14_2() {
    static const SMCProfile profile = makeMac14_2();
    return profile;
}

namespace {

struct Entry {
    std::string_view name;
    SMCProfile (*make)();
};

constexpr Entry catalogue[] = {
    {"Mac15,11", &SMCProfiles::mac15_11},
    {"Mac14,6", &SMCProfiles::mac14_6},
    {"Mac14,2", &SMCProfiles::mac14_2},
};

} // namespace

std::vector<SMCProfile> SMCProfiles::all() {
    std::vector<SMCProfile> profiles;
    for (const auto& entry : catalogue) {
        profiles.push_back(entry.make());
    }
    return profiles;
}

std::optional<SMCProfile> SMCProfiles::named(std::string_view name) {
    for (const auto& entry : catalogue) {
        if (entry.name == name) {
            return entry.make();
        }
    }
    return std::nullopt;
}

} // namespace quorvane
