#include "Helpers/SensorReader.hpp"

#include "SMC/IOKitSMCBridge.hpp"
#include "SMC/SMCError.hpp"

#include <algorithm>
#include <cmath>
#include <span>

namespace quorvane {

namespace {

using KeySpan = std::span<const std::string_view>;

constexpr bool isConcatenation(KeySpan whole, std::initializer_list<KeySpan> parts) {
    std::size_t position = 0;
    for (const auto part : parts) {
        for (const auto key : part) {
            if (position >= whole.size() || whole[position++] != key) {
                return false;
            }
        }
    }
    return position == whole.size();
}

static_assert(isConcatenation(SensorReader::m3CPUCoreKeys,
                              {SensorReader::m3EfficiencyCoreKeys, SensorReader::m3PerformanceBankAKeys,
                               SensorReader::m3PerformanceBankBKeys}));
static_assert(isConcatenation(SensorReader::m3GPUClusterKeys,
                              {SensorReader::m3GPUClusterBankAKeys, SensorReader::m3GPUClusterBankBKeys}));

constexpr std::size_t reservedSensorCount = 400;
// Real tables have no gaps at all; transient errors come one or two at a time.
constexpr int maxDiscoveryFailuresInARow = 32;

bool contains(KeySpan keys, std::string_view name) {
    return std::find(keys.begin(), keys.end(), name) != keys.end();
}

bool within(double value, double minimum, double maximum) {
    return std::isfinite(value) && value >= minimum && value <= maximum;
}

// At least `floor` channels, and never fewer than three quarters of the candidates.
std::size_t requiredChannels(std::size_t candidates, std::size_t floor) {
    return std::max(floor, (3 * candidates + 3) / 4);
}

struct Statistics {
    double mean = 0;
    double maximum = 0;
};

std::optional<Statistics> statistics(const std::vector<double>& values) {
    if (values.empty()) {
        return std::nullopt;
    }
    double sum = 0;
    double maximum = values.front();
    for (const double value : values) {
        sum += value;
        maximum = std::max(maximum, value);
    }
    return Statistics{sum / static_cast<double>(values.size()), maximum};
}

// Mean of the listed keys that have a value, summed in catalogue order.
template <typename Values> std::optional<double> meanOf(const Values& values, KeySpan keys) {
    std::vector<double> present;
    for (const auto key : keys) {
        if (auto found = values.find(key); found != values.end()) {
            present.push_back(found->second);
        }
    }
    auto result = statistics(present);
    return result ? std::optional(result->mean) : std::nullopt;
}

std::vector<std::string> sortedNames(const std::vector<SMCKeyInfo>& infos) {
    std::vector<std::string> names;
    names.reserve(infos.size());
    for (const auto& info : infos) {
        names.push_back(info.keyName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

SMCError tooFewChannels(const std::string& what, std::size_t valid) {
    return SMCError::readFailed(what + " has only " + std::to_string(valid) + " valid channels");
}

struct ChassisSide {
    std::optional<double> temperature;
    std::vector<std::string> keys;
};

// One side of the machine: which silicon drives it and which keys describe it.
struct ZoneSide {
    int fanIndex;
    const char* zoneName;
    const char* processorDriver;
    const char* graphicsDriver;
    KeySpan performanceKeys;
    KeySpan graphicsKeys;
};

FanZoneReading makeZone(const ZoneSide& side, double processor, std::optional<double> graphics,
                        const ChassisSide& chassis, double bias) {
    // A tie goes to the processor.
    const bool graphicsDriven = graphics && processor < *graphics;
    std::vector<std::string> keys;
    if (graphicsDriven) {
        keys.assign(side.graphicsKeys.begin(), side.graphicsKeys.end());
    } else {
        keys.assign(side.performanceKeys.begin(), side.performanceKeys.end());
        keys.insert(keys.end(), SensorReader::m3EfficiencyCoreKeys.begin(),
                    SensorReader::m3EfficiencyCoreKeys.end());
    }
    keys.insert(keys.end(), chassis.keys.begin(), chassis.keys.end());
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

    const double local = graphicsDriven ? *graphics : processor;
    return FanZoneReading{side.fanIndex,      side.zoneName,
                          local + bias,       graphicsDriven ? side.graphicsDriver : side.processorDriver,
                          std::move(keys),    local,
                          chassis.temperature};
}

} // namespace

SensorReader::SensorReader(SMCInterface& smc) : smc_(smc) {}

std::vector<SMCKeyInfo> SensorReader::discoverTemperatureSensors() {
    const std::uint32_t count = smc_.getKeyCount();
    std::vector<SMCKeyInfo> found;
    std::vector<SMCKeyInfo> electrical;
    found.reserve(reservedSensorCount);
    // A key that cannot be fetched is skipped, but a long run of them means the count was wrong or the
    // SMC went away: a firmware claiming four billion keys must not keep the caller asking for hours.
    int failuresInARow = 0;
    for (std::uint32_t index = 0; index < count && failuresInARow < maxDiscoveryFailuresInARow; ++index) {
        SMCKeyInfo info;
        try {
            const SMCKey key = smc_.getKeyFromIndex(index);
            info = smc_.getKeyInfo(key);
            info.key = key;
            info.keyName = IOKitSMCBridge::stringFromKey(key);
            failuresInARow = 0;
        } catch (const SMCError&) {
            ++failuresInARow;
            continue;
        }
        const std::string type = IOKitSMCBridge::trimmedStringFromCode(info.dataType);
        const bool temperatureType =
            (type == "flt" && info.dataSize == 4) || (type == "sp78" && info.dataSize == 2);
        if (info.keyName.starts_with('T') && temperatureType) {
            found.push_back(std::move(info));
        } else if (type == "flt" && info.dataSize == 4 && electricalChannel(info.keyName) != nullptr) {
            electrical.push_back(std::move(info));
        }
    }
    knownSensors_ = found;
    knownElectrical_ = std::move(electrical);
    knownIndexByName_.clear();
    for (std::size_t i = 0; i < knownSensors_.size(); ++i) {
        knownIndexByName_.emplace(knownSensors_[i].keyName, i);
    }
    return found;
}

void SensorReader::discoverIfEmpty() {
    if (knownSensors_.empty()) {
        discoverTemperatureSensors();
    }
}

std::vector<SensorReading> SensorReader::readAllTemperatures() {
    discoverIfEmpty();
    std::vector<SensorReading> readings;
    readings.reserve(knownSensors_.size());
    for (const auto& info : knownSensors_) {
        if (auto value = readWithin(info, sensorListMinimum, sensorListMaximum)) {
            readings.push_back(SensorReading{info.keyName, info.keyName, *value});
        }
    }
    return readings;
}

const SensorReader::ElectricalChannel* SensorReader::electricalChannel(std::string_view keyName) {
    const auto found =
        std::find_if(electricalChannels.begin(), electricalChannels.end(),
                     [&](const ElectricalChannel& channel) { return channel.keyName == keyName; });
    return found == electricalChannels.end() ? nullptr : &*found;
}

std::vector<SensorReading> SensorReader::readAllElectrical() {
    discoverIfEmpty();
    std::vector<SensorReading> readings;
    readings.reserve(knownElectrical_.size());
    for (const auto& info : knownElectrical_) {
        const auto* channel = electricalChannel(info.keyName);
        if (auto value = readWithin(info, -electricalMagnitudeMaximum, electricalMagnitudeMaximum)) {
            readings.push_back(
                SensorReading{info.keyName, std::string(channel->label), *value, std::string(channel->unit)});
        }
    }
    return readings;
}

SensorReading SensorReader::readTemperature(SMCKey key, const std::string& name) {
    const double value = smc_.readTemperature(key);
    if (!within(value, sensorListMinimum, sensorListMaximum)) {
        throw SMCError::readFailed(name + " returned an implausible temperature");
    }
    return SensorReading{IOKitSMCBridge::stringFromKey(key), name, value};
}

CPUCoreAverage SensorReader::readCPUCoreAverage() {
    discoverIfEmpty();
    const bool verified = hasVerifiedTopology();

    const auto processorCandidateList = cpuContributors_ ? *cpuContributors_ : processorCandidates(verified);
    const ValidChannels processor = readValid(processorCandidateList);
    if (processor.values.size() < requiredChannels(processorCandidateList.size(), 4)) {
        throw tooFewChannels("CPU Core Average", processor.values.size());
    }
    if (!cpuContributors_) {
        cpuContributors_ = processor.infos;
    }

    CPUCoreAverage average;
    average.hasValidatedFanZoneTopology = verified;
    average.hotspotTemperature = readValidatedOptionalHotspot(cpuHotspotKey);
    average.gpuHotspotTemperature = readValidatedOptionalHotspot(gpuHotspotKey);

    const auto graphicsCandidateList = gpuContributors_ ? *gpuContributors_ : graphicsCandidates();
    ValidChannels graphics;
    if (!graphicsCandidateList.empty()) {
        graphics = readValid(graphicsCandidateList);
        if (graphics.values.size() < requiredChannels(graphicsCandidateList.size(), 2)) {
            throw tooFewChannels("GPU cluster average", graphics.values.size());
        }
        if (!gpuContributors_) {
            gpuContributors_ = graphics.infos;
        }
    }

    std::vector<double> efficiency;
    std::vector<double> performance;
    for (std::size_t i = 0; i < processor.infos.size(); ++i) {
        const auto& name = processor.infos[i].keyName;
        if (contains(m3EfficiencyCoreKeys, name)) {
            efficiency.push_back(processor.values[i]);
        } else if (contains(m3PerformanceBankAKeys, name) || contains(m3PerformanceBankBKeys, name)) {
            performance.push_back(processor.values[i]);
        }
    }
    if (auto stats = statistics(efficiency)) {
        average.efficiencyAverageTemperature = stats->mean;
        average.efficiencyMaximumTemperature = stats->maximum;
    }
    if (auto stats = statistics(performance)) {
        average.performanceAverageTemperature = stats->mean;
        average.performanceMaximumTemperature = stats->maximum;
    }

    const auto cpuStats = *statistics(processor.values);
    average.temperature = cpuStats.mean;
    average.cpuMaximumTemperature = cpuStats.maximum;
    average.contributingKeys = sortedNames(processor.infos);
    if (auto stats = statistics(graphics.values)) {
        average.gpuAverageTemperature = stats->mean;
        average.gpuMaximumTemperature = stats->maximum;
    }
    average.gpuContributingKeys = sortedNames(graphics.infos);

    if (verified) {
        average.fanZoneReadings = buildFanZoneReadings(processor.byName(), graphics.byName(),
                                                       average.temperature, average.gpuAverageTemperature);
    }
    return average;
}

bool SensorReader::hasVerifiedTopology() const {
    int efficiency = 0;
    int bankA = 0;
    int bankB = 0;
    for (const auto& info : knownSensors_) {
        efficiency += contains(m3EfficiencyCoreKeys, info.keyName) ? 1 : 0;
        bankA += contains(m3PerformanceBankAKeys, info.keyName) ? 1 : 0;
        bankB += contains(m3PerformanceBankBKeys, info.keyName) ? 1 : 0;
    }
    return efficiency >= 3 && bankA >= 4 && bankB >= 4;
}

std::vector<SMCKeyInfo> SensorReader::processorCandidates(bool verified) const {
    std::vector<SMCKeyInfo> candidates;
    for (const auto& info : knownSensors_) {
        const bool wanted = verified ? contains(m3CPUCoreKeys, info.keyName)
                                     : info.keyName.starts_with("Tp") || info.keyName.starts_with("Te");
        if (wanted) {
            candidates.push_back(info);
        }
    }
    return candidates;
}

std::vector<SMCKeyInfo> SensorReader::graphicsCandidates() const {
    std::vector<SMCKeyInfo> candidates;
    for (const auto& info : knownSensors_) {
        if (contains(m3GPUClusterKeys, info.keyName)) {
            candidates.push_back(info);
        }
    }
    // A partial graphics layout is more likely a different machine than a damaged one.
    if (candidates.size() < 4) {
        candidates.clear();
    }
    return candidates;
}

const SMCKeyInfo* SensorReader::findKnown(std::string_view name) const {
    auto found = knownIndexByName_.find(std::string(name));
    return found == knownIndexByName_.end() ? nullptr : &knownSensors_[found->second];
}

std::optional<double> SensorReader::readWithin(const SMCKeyInfo& info, double minimum, double maximum) {
    double value = 0;
    try {
        value = smc_.readTemperature(info.key);
    } catch (const SMCError&) {
        return std::nullopt;
    }
    return within(value, minimum, maximum) ? std::optional(value) : std::nullopt;
}

SensorReader::ValidChannels SensorReader::readValid(const std::vector<SMCKeyInfo>& candidates) {
    ValidChannels valid;
    for (const auto& info : candidates) {
        if (auto value = readWithin(info, dieChannelMinimum, dieChannelMaximum)) {
            valid.infos.push_back(info);
            valid.values.push_back(*value);
        }
    }
    return valid;
}

SensorReader::ChannelValues SensorReader::ValidChannels::byName() const {
    ChannelValues named;
    for (std::size_t i = 0; i < infos.size(); ++i) {
        named.emplace(infos[i].keyName, values[i]);
    }
    return named;
}

std::optional<double> SensorReader::readValidatedOptionalHotspot(std::string_view keyName) {
    const SMCKeyInfo* info = findKnown(keyName);
    return info ? readWithin(*info, dieChannelMinimum, dieChannelMaximum) : std::nullopt;
}

std::vector<FanZoneReading> SensorReader::buildFanZoneReadings(const ChannelValues& cpuValues,
                                                               const ChannelValues& gpuValues,
                                                               double cpuAverage,
                                                               std::optional<double> gpuAverage) {
    const auto efficiency = meanOf(cpuValues, m3EfficiencyCoreKeys);
    const auto processorSide = [&](KeySpan bank) {
        double side = meanOf(cpuValues, bank).value_or(cpuAverage);
        return efficiency ? 0.85 * side + 0.15 * *efficiency : side;
    };
    const double left = processorSide(m3PerformanceBankAKeys);
    const double right = processorSide(m3PerformanceBankBKeys);
    const auto graphicsSide = [&](KeySpan bank) {
        auto side = meanOf(gpuValues, bank);
        return side ? side : gpuAverage;
    };
    const auto graphicsLeft = graphicsSide(m3GPUClusterBankAKeys);
    const auto graphicsRight = graphicsSide(m3GPUClusterBankBKeys);

    const auto readChassis = [&](KeySpan keys) {
        ChassisSide side;
        std::vector<double> values;
        for (const auto key : keys) {
            const SMCKeyInfo* info = findKnown(key);
            if (auto value =
                    info ? readWithin(*info, chassisChannelMinimum, chassisChannelMaximum) : std::nullopt) {
                values.push_back(*value);
                side.keys.emplace_back(key);
            }
        }
        if (values.size() < 2) {
            side.keys.clear();
        } else {
            side.temperature = statistics(values)->mean;
        }
        return side;
    };
    const ChassisSide leftChassis = readChassis(m3LeftChassisKeys);
    const ChassisSide rightChassis = readChassis(m3RightChassisKeys);

    // The warmer side of the chassis gets a little more of the cooling, within a narrow band.
    double bias = 0;
    if (leftChassis.temperature && rightChassis.temperature) {
        bias = std::clamp(0.35 * (*leftChassis.temperature - *rightChassis.temperature), -2.5, 2.5);
    }

    // Each fan mostly sees its own side's silicon and a fifth of the far side's.
    const auto graphicsComposite = [](std::optional<double> near, std::optional<double> far) {
        return near ? std::optional(0.8 * *near + 0.2 * far.value_or(*near)) : std::nullopt;
    };
    static constexpr ZoneSide leftSide{
        0, "Left", "CPU core bank A", "GPU cluster bank A", m3PerformanceBankAKeys, m3GPUClusterBankAKeys};
    static constexpr ZoneSide rightSide{
        1, "Right", "CPU core bank B", "GPU cluster bank B", m3PerformanceBankBKeys, m3GPUClusterBankBKeys};
    return {makeZone(leftSide, 0.8 * left + 0.2 * right, graphicsComposite(graphicsLeft, graphicsRight),
                     leftChassis, bias),
            makeZone(rightSide, 0.2 * left + 0.8 * right, graphicsComposite(graphicsRight, graphicsLeft),
                     rightChassis, -bias)};
}

} // namespace quorvane
