#include "Simulator/SimulatedHwmonDevice.hpp"

#include "Helpers/SensorReader.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/HardwareModel.hpp"
#include "SMC/SMCError.hpp"
#include "Simulator/SMCProfile.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Simulator/SimulatorError.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace fs = std::filesystem;

namespace {

// The labels mainline device trees give the laptop keys; the rest are named after their key.
const std::map<std::string, std::string, std::less<>> knownLabels{
    {"TH0x", "NAND Flash Temperature"}, {"TH0a", "NAND Flash Temperature"}, {"TB0T", "Battery Hotspot"},
    {"TCHP", "Charge Regulator Temp"},  {"TW0P", "WiFi/BT Module Temp"},    {"TCMz", "CPU Die Hotspot"},
    {"TRDX", "GPU Die Hotspot"},
};

// Read-only files are replaced whole, so a reader sees the old value or the new one.
void writeFile(const fs::path& path, const std::string& content, mode_t mode = 0444) {
    const fs::path temporary = path.parent_path() / ("." + path.filename().string() + ".new");
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (!file ||
        ::write(file.get(), content.data(), content.size()) != static_cast<ssize_t>(content.size()) ||
        ::fchmod(file.get(), mode) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        throw SimulatorError("Cannot write " + path.string());
    }
}

std::string contents(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string property(std::string_view text) {
    return std::string(text) + '\0';
}

std::optional<timespec> modified(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return status.st_mtim;
}

bool sameTime(const std::optional<timespec>& lhs, const std::optional<timespec>& rhs) {
    return lhs && rhs && lhs->tv_sec == rhs->tv_sec && lhs->tv_nsec == rhs->tv_nsec;
}

} // namespace

SimulatedHwmonDevice::SimulatedHwmonDevice(SimulatedMac& mac, fs::path directory)
    : mac_(mac), directory_(std::move(directory)),
      device_(directory_ / "devices" / "smc-hwmon" / "hwmon" / "hwmon0"),
      firmware_(mac.makeUserClient(false)) {
    firmware_.open();
    try {
        for (const char* folder : {"hwmon", "devices", "device-tree"}) {
            fs::remove_all(directory_ / folder);
        }
        const auto& profile = mac_.profile();
        const fs::path node = deviceTree() / "soc" / "smc" / "hwmon";
        fs::create_directories(node);
        fs::create_directories(device_);
        fs::create_directories(hwmonRoot());
        writeFile(deviceTree() / "compatible",
                  property(HardwareModel::boardForModel(profile.modelIdentifier).value_or("apple,unknown")) +
                      property("apple,arm-platform"));
        writeFile(deviceTree() / "model", property("Apple " + profile.description));
        writeFile(node / "compatible", property("apple,smc-hwmon"));
        fs::create_directory_symlink("../../device-tree/soc/smc/hwmon",
                                     directory_ / "devices" / "smc-hwmon" / "of_node");
        fs::create_directory_symlink("../..", device_ / "device");
        fs::create_directory_symlink("../devices/smc-hwmon/hwmon/hwmon0", hwmonRoot() / "hwmon0");
        writeFile(device_ / "name", "macsmc_hwmon\n");

        const auto addNode = [&](const std::string& name, const std::string& key, const std::string& label) {
            fs::create_directory(node / name);
            writeFile(node / name / "name", property(name.substr(0, name.find('-'))));
            writeFile(node / name / "apple,key-id", property(key));
            writeFile(node / name / "label", property(label));
            return node / name;
        };
        for (int index = 0; index <= 9; ++index) {
            try {
                firmware_.getKeyInfo(SMCKey::fan(index, "Ac"));
            } catch (const SMCError&) {
                continue;
            }
            const std::string fan = "F" + std::to_string(index);
            const std::string label = "Fan " + std::to_string(index + 1);
            const auto fanNode = addNode("fan-" + fan + "Ac", fan + "Ac", label);
            for (const auto& [name, suffix] : {std::pair{"apple,fan-minimum", "Mn"},
                                               {"apple,fan-maximum", "Mx"},
                                               {"apple,fan-target", "Tg"},
                                               {"apple,fan-mode", "Md"}}) {
                writeFile(fanNode / name, property(fan + suffix));
            }
            Fan entry;
            entry.index = index;
            entry.prefix = device_ / ("fan" + std::to_string(fans_.size() + 1));
            writeFile(entry.prefix.string() + "_label", label + "\n");
            fans_.push_back(entry);
        }
        for (const auto& key : temperatureKeys(profile)) {
            const auto known = knownLabels.find(key);
            const std::string label = known != knownLabels.end() ? known->second : "Sensor " + key;
            addNode("temperature-" + key, key, label);
            const std::string channel = "temp" + std::to_string(temperatures_.size() + 1);
            writeFile(device_ / (channel + "_label"), label + "\n");
            temperatures_.emplace_back(key, device_ / (channel + "_input"));
        }
    } catch (const fs::filesystem_error& error) {
        throw SimulatorError("Cannot lay out the hwmon device in " + directory_.string() + ": " +
                             error.what());
    }
    refresh();
}

SimulatedHwmonDevice::~SimulatedHwmonDevice() {
    std::error_code ignored;
    for (const char* folder : {"hwmon", "devices", "device-tree"}) {
        fs::remove_all(directory_ / folder, ignored);
    }
}

std::vector<std::string> SimulatedHwmonDevice::temperatureKeys(const SMCProfile& profile) {
    std::vector<std::string> candidates{"TH0x", "TH0a", "TB0T", "TCHP", "TW0P"};
    candidates.insert(candidates.end(),
                      {std::string(SensorReader::cpuHotspotKey), std::string(SensorReader::gpuHotspotKey)});
    for (const auto& list : {std::span<const std::string_view>(SensorReader::m3CPUCoreKeys),
                             std::span<const std::string_view>(SensorReader::m3GPUClusterKeys),
                             std::span<const std::string_view>(SensorReader::m3LeftChassisKeys),
                             std::span<const std::string_view>(SensorReader::m3RightChassisKeys)}) {
        candidates.insert(candidates.end(), list.begin(), list.end());
    }
    std::vector<std::string> keys;
    for (const auto& candidate : candidates) {
        const auto found =
            std::find_if(profile.keys.begin(), profile.keys.end(), [&](const SimulatedKey& key) {
                return key.key == SMCKey::fromString(candidate) && key.isFloat();
            });
        if (found != profile.keys.end() && std::find(keys.begin(), keys.end(), candidate) == keys.end()) {
            keys.push_back(candidate);
        }
    }
    return keys;
}

void SimulatedHwmonDevice::refresh() {
    for (auto& fan : fans_) {
        applyClientWrite(fan);
    }
    for (const auto& [key, file] : temperatures_) {
        try {
            publish(file, std::llround(firmware_.readTemperature(SMCKey::fromString(key)) * 1000.0));
        } catch (const SMCError& error) {
            // A key the firmware no longer has is a channel that went away; other failures keep the value.
            if (error.kind() == SMCError::Kind::keyNotFound) {
                publish(file, std::nullopt);
            }
        }
    }
    for (auto& fan : fans_) {
        const auto speed = [&](const char* suffix) -> std::optional<std::int64_t> {
            try {
                return firmware_.readFanRPM(SMCKey::fan(fan.index, suffix));
            } catch (const SMCError&) {
                return std::nullopt;
            }
        };
        publish(fan.prefix.string() + "_input", speed("Ac"));
        fan.minimum = speed("Mn");
        fan.maximum = speed("Mx");
        publish(fan.prefix.string() + "_min", fan.minimum);
        publish(fan.prefix.string() + "_max", fan.maximum);
        const auto target = fan.manualTarget ? std::llround(*fan.manualTarget) : speed("Tg");
        if (target) {
            publishTarget(fan, *target);
        }
    }
}

void SimulatedHwmonDevice::applyClientWrite(Fan& fan) {
    const fs::path file = fan.prefix.string() + "_target";
    const std::string text = contents(file);
    const std::string line = text.substr(0, text.find('\n'));
    if (text == fan.published + "\n" && sameTime(modified(file), fan.publishedAt)) {
        return;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (error != std::errc() || end != line.data() + line.size()) {
        return;
    }
    if (value == 0) {
        mac_.overrideFan(fan.index, std::nullopt);
        fan.manualTarget.reset();
    } else if (fan.minimum && fan.maximum && value >= *fan.minimum && value <= *fan.maximum) {
        mac_.overrideFan(fan.index, static_cast<float>(value));
        fan.manualTarget = static_cast<float>(value);
    }
    // Taken (or refused, as the driver refuses anything else): what is published next replaces it.
    fan.published = line;
    fan.publishedAt.reset();
}

void SimulatedHwmonDevice::publish(const fs::path& file, std::optional<std::int64_t> value) {
    // Only changes are written: most channels hold still between two refreshes.
    auto [entry, added] = published_.try_emplace(file.string(), std::nullopt);
    if (!added && entry->second == value) {
        return;
    }
    entry->second = value;
    if (!value) {
        std::error_code ignored;
        fs::remove(file, ignored);
        return;
    }
    writeFile(file, std::to_string(*value) + "\n");
}

void SimulatedHwmonDevice::publishTarget(Fan& fan, std::int64_t value) {
    const fs::path file = fan.prefix.string() + "_target";
    const std::string text = std::to_string(value);
    const std::string current = contents(file);
    if (current == text + "\n") {
        fan.published = text;
        fan.publishedAt = modified(file);
        return;
    }
    // A client's write that arrived since refresh() began is applied next time, not overwritten.
    if (fs::exists(file) && (current.substr(0, current.find('\n')) != fan.published ||
                             (fan.publishedAt && !sameTime(modified(file), fan.publishedAt)))) {
        return;
    }
    // Written in place: a client may hold the file open, and a reader never sees it empty.
    FileDescriptor descriptor(::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    const std::string line = text + "\n";
    if (!descriptor ||
        ::pwrite(descriptor.get(), line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()) ||
        ::ftruncate(descriptor.get(), static_cast<off_t>(line.size())) != 0) {
        throw SimulatorError("Cannot write " + file.string());
    }
    // Writable by its owner (root) only, as the driver's fanX_target with fan_control=1.
    ::fchmod(descriptor.get(), 0644);
    fan.published = text;
    fan.publishedAt = modified(file);
}

} // namespace quorvane
