#pragma once

#include "Helpers/CPUCoreAverage.hpp"
#include "Helpers/FanZoneReading.hpp"
#include "Helpers/SensorReading.hpp"
#include "SMC/SMCInterface.hpp"
#include "SMC/SMCKeyInfo.hpp"

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvane {

// Turns the SMC's temperature keys into the flat sensor list and the composite reading that fan
// control runs on. Holds unsynchronised state: use it from one thread or queue at a time.
//
// The channels behind the composite are pinned at its first successful read, so a later read that
// loses a few of them still averages the same silicon instead of quietly switching sources.
class SensorReader {
public:
    // The connection is used, never opened or closed, and must outlive the reader.
    explicit SensorReader(SMCInterface& smc);

    // Every "T" key typed "flt" (4 bytes) or "sp78" (2 bytes), in SMC index order. A key count that
    // cannot be read throws; a key or key info that cannot be fetched is skipped.
    std::vector<SMCKeyInfo> discoverTemperatureSensors();
    // Every known sensor that reads a finite value within -40...125 °C; failed reads are skipped.
    std::vector<SensorReading> readAllTemperatures();
    // Read errors propagate; an implausible value throws SMCError::readFailed.
    SensorReading readTemperature(SMCKey key, const std::string& name);
    // Throws SMCError::readFailed when too few processor or (in use) graphics channels are valid.
    CPUCoreAverage readCPUCoreAverage();
    // Every known power, voltage and current channel that reads a finite value within the window,
    // labelled and in its SI unit. Kept apart from the temperatures: none of it may ever reach the
    // display or control temperature. Failed reads are skipped.
    std::vector<SensorReading> readAllElectrical();

    const std::vector<SMCKeyInfo>& knownSensors() const { return knownSensors_; }
    // Catalogue keys typed "flt" (4 bytes), in SMC index order, found by the temperature discovery.
    const std::vector<SMCKeyInfo>& knownElectricalSensors() const { return knownElectrical_; }
    const std::optional<std::vector<SMCKeyInfo>>& cpuContributors() const { return cpuContributors_; }
    const std::optional<std::vector<SMCKeyInfo>>& gpuContributors() const { return gpuContributors_; }

    template <std::size_t N> using KeyList = std::array<std::string_view, N>;

    static constexpr KeyList<4> m3EfficiencyCoreKeys{"Te05", "Te0L", "Te0P", "Te0S"};
    static constexpr KeyList<6> m3PerformanceBankAKeys{"Tf04", "Tf09", "Tf0A", "Tf0B", "Tf0D", "Tf0E"};
    static constexpr KeyList<6> m3PerformanceBankBKeys{"Tf44", "Tf49", "Tf4A", "Tf4B", "Tf4D", "Tf4E"};
    static constexpr KeyList<4> m3GPUClusterBankAKeys{"Tf14", "Tf18", "Tf19", "Tf1A"};
    static constexpr KeyList<4> m3GPUClusterBankBKeys{"Tf24", "Tf28", "Tf29", "Tf2A"};
    static constexpr KeyList<16> m3CPUCoreKeys{"Te05", "Te0L", "Te0P", "Te0S", "Tf04", "Tf09",
                                               "Tf0A", "Tf0B", "Tf0D", "Tf0E", "Tf44", "Tf49",
                                               "Tf4A", "Tf4B", "Tf4D", "Tf4E"};
    static constexpr KeyList<8> m3GPUClusterKeys{"Tf14", "Tf18", "Tf19", "Tf1A",
                                                 "Tf24", "Tf28", "Tf29", "Tf2A"};
    static constexpr KeyList<5> m3LeftChassisKeys{"TaLP", "TaLT", "TaLW", "TDeL", "Ts0P"};
    static constexpr KeyList<5> m3RightChassisKeys{"TaRF", "TaRT", "TaRW", "TDeR", "Ts1P"};

    // A power, voltage or current key and how it is shown: the device trees' labels where they give
    // one, values in watts, volts or amperes.
    struct ElectricalChannel {
        std::string_view keyName;
        std::string_view label;
        std::string_view unit;
    };
    static constexpr std::array<ElectricalChannel, 7> electricalChannels{{
        {"PSTR", "Total System Power", "W"},
        {"PDTR", "AC Input Power", "W"},
        {"PMVR", "3.8 V Rail Power", "W"},
        {"PHPC", "Heatpipe Power", "W"},
        {"VD0R", "AC Input Voltage", "V"},
        {"SBAV", "Battery Voltage", "V"},
        {"ID0R", "AC Input Current", "A"},
    }};
    // The catalogue entry of a key; nullptr for any other key.
    static const ElectricalChannel* electricalChannel(std::string_view keyName);

    static constexpr std::string_view cpuHotspotKey = "TCMz";
    static constexpr std::string_view gpuHotspotKey = "TRDX";

    // Inclusive plausibility windows in °C.
    static constexpr double sensorListMinimum = -40.0;
    static constexpr double sensorListMaximum = 125.0;
    static constexpr double dieChannelMinimum = 20.0;
    static constexpr double dieChannelMaximum = 115.0;
    static constexpr double chassisChannelMinimum = 15.0;
    static constexpr double chassisChannelMaximum = 85.0;
    // Inclusive magnitude window for power, voltage and current: beyond it a value is a misread.
    static constexpr double electricalMagnitudeMaximum = 1000.0;

private:
    // Valid channel values by key name.
    using ChannelValues = std::map<std::string, double, std::less<>>;

    struct ValidChannels {
        std::vector<SMCKeyInfo> infos;
        std::vector<double> values;

        ChannelValues byName() const;
    };

    void discoverIfEmpty();
    bool hasVerifiedTopology() const;
    std::vector<SMCKeyInfo> processorCandidates(bool verifiedTopology) const;
    std::vector<SMCKeyInfo> graphicsCandidates() const;
    const SMCKeyInfo* findKnown(std::string_view name) const;
    // The value when the read succeeds and is finite and within the window; nullopt otherwise.
    std::optional<double> readWithin(const SMCKeyInfo& info, double minimum, double maximum);
    ValidChannels readValid(const std::vector<SMCKeyInfo>& candidates);
    std::optional<double> readValidatedOptionalHotspot(std::string_view keyName);
    std::vector<FanZoneReading> buildFanZoneReadings(const ChannelValues& cpuValues,
                                                     const ChannelValues& gpuValues, double cpuAverage,
                                                     std::optional<double> gpuAverage);

    SMCInterface& smc_;
    std::vector<SMCKeyInfo> knownSensors_;
    std::vector<SMCKeyInfo> knownElectrical_;
    std::unordered_map<std::string, std::size_t> knownIndexByName_;
    std::optional<std::vector<SMCKeyInfo>> cpuContributors_;
    std::optional<std::vector<SMCKeyInfo>> gpuContributors_;
};

} // namespace quorvane
