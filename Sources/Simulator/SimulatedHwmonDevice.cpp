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
#include <span>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace fs = std::filesystem;

namespace {

// Labels of the keys a patched device tree adds; other added keys are named after their key.
const std::map<std::string, std::string, std::less<>> extendedLabels{
    {"TCMz", "CPU Die Hotspot"},
    {"TRDX", "GPU Die Hotspot"},
};

// Watts the platform draws besides the SoC's clusters, volts at the charger or supply and battery.
constexpr double platformWatts = 4.0;
constexpr double laptopInputVolts = 20.0;
constexpr double desktopInputVolts = 12.0;
constexpr double batteryVolts = 12.6;

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

bool isLaptop(const SMCProfile& profile) {
    const auto board = HardwareModel::boardForModel(profile.modelIdentifier);
    return !board || HardwareModel::isLaptop(*board).value_or(true);
}

bool sameTime(const std::optional<timespec>& lhs, const std::optional<timespec>& rhs) {
    return lhs && rhs && lhs->tv_sec == rhs->tv_sec && lhs->tv_nsec == rhs->tv_nsec;
}

} // namespace

SimulatedHwmonDevice::SimulatedHwmonDevice(SimulatedMac& mac, fs::path directory, Options options)
    : mac_(mac), directory_(std::move(directory)),
      device_(directory_ / "devices" / "smc-hwmon" / "hwmon" / "hwmon0"), options_(options),
      firmware_(mac.makeUserClient(false)), notifier_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    firmware_.open();
    try {
        for (const char* folder : {"hwmon", "devices", "device-tree", "drivers", "module"}) {
            fs::remove_all(directory_ / folder);
        }
        const auto& profile = mac_.profile();
        const auto board = HardwareModel::boardForModel(profile.modelIdentifier);
        laptop_ = isLaptop(profile);
        const fs::path node = deviceTree() / "soc" / "smc" / "hwmon";
        fs::create_directories(node);
        fs::create_directories(device_);
        fs::create_directories(hwmonRoot());
        writeFile(deviceTree() / "compatible",
                  property(board.value_or("apple,unknown")) + property("apple,arm-platform"));
        writeFile(deviceTree() / "model", property("Apple " + profile.description));
        writeFile(node / "compatible", property("apple,smc-hwmon"));
        fs::create_directory_symlink("../../device-tree/soc/smc/hwmon",
                                     directory_ / "devices" / "smc-hwmon" / "of_node");
        fs::create_directory_symlink("../..", device_ / "device");
        fs::create_directory_symlink("../devices/smc-hwmon/hwmon/hwmon0", hwmonRoot() / "hwmon0");
        writeFile(device_ / "name", "macsmc_hwmon\n");
        // The module and its parameter, reached from the device as on a real system.
        const bool older = options_.layout == Options::Layout::grouped;
        const fs::path parameters = directory_ / "module" / "macsmc_hwmon" / "parameters";
        fs::create_directories(parameters);
        fs::create_directories(directory_ / "drivers" / "macsmc-hwmon");
        fs::create_directory_symlink("../../module/macsmc_hwmon",
                                     directory_ / "drivers" / "macsmc-hwmon" / "module");
        fs::create_directory_symlink("../../drivers/macsmc-hwmon",
                                     directory_ / "devices" / "smc-hwmon" / "driver");
        writeFile(parameters / (older ? "melt_my_mac" : "fan_control"), options_.fanControl ? "Y\n" : "N\n");

        const auto addNode = [&](const std::string& type, const std::string& key, const std::string& label) {
            const fs::path parent = older ? node / type : node;
            const fs::path path = parent / (type + "-" + key);
            fs::create_directories(path);
            writeFile(path / "name", property(type));
            writeFile(path / "apple,key-id", property(key));
            writeFile(path / "label", property(label));
            return path;
        };
        std::vector<int> fanIndices;
        for (int index = 0; index <= 9; ++index) {
            try {
                firmware_.getKeyInfo(SMCKey::fan(index, "Ac"));
                fanIndices.push_back(index);
            } catch (const SMCError&) {
            }
        }
        for (const int index : fanIndices) {
            const std::string fan = "F" + std::to_string(index);
            // As the device trees name them: "Fan" alone, else "Fan 1", "Fan 2".
            const std::string label = fanIndices.size() == 1 ? "Fan" : "Fan " + std::to_string(index + 1);
            const auto fanNode = addNode("fan", fan + "Ac", label);
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
        std::map<std::string, int> numbers;
        for (const auto& channel : channels(profile, options_.keys)) {
            // The driver leaves out a key its SMC does not answer.
            if (!channelValue(channel)) {
                continue;
            }
            addNode(channel.type, channel.key, channel.label);
            static const std::map<std::string, std::string> prefixes{
                {"temperature", "temp"}, {"power", "power"}, {"voltage", "in"}, {"current", "curr"}};
            const std::string& prefix = prefixes.at(channel.type);
            // hwmon numbers temperatures, fans, power and current from 1, voltages from 0.
            auto [number, added] = numbers.try_emplace(prefix, prefix == "in" ? 0 : 1);
            const std::string name = prefix + std::to_string(number->second++);
            writeFile(device_ / (name + "_label"), channel.label + "\n");
            channels_.emplace_back(channel, device_ / (name + "_input"));
        }
    } catch (const fs::filesystem_error& error) {
        throw SimulatorError("Cannot lay out the hwmon device in " + directory_.string() + ": " +
                             error.what());
    }
    refresh();
    watchTargets();
}

SimulatedHwmonDevice::~SimulatedHwmonDevice() {
    std::error_code ignored;
    for (const char* folder : {"hwmon", "devices", "device-tree", "drivers", "module"}) {
        fs::remove_all(directory_ / folder, ignored);
    }
}

std::vector<SimulatedHwmonDevice::Channel> SimulatedHwmonDevice::channels(const SMCProfile& profile,
                                                                          Options::Keys keys) {
    // Every board's, then a laptop's (battery, charger, heat pipes) or a desktop's.
    std::vector<Channel> list{
        {"temperature", "TH0x", "NAND Flash Temperature"},
        {"temperature", "TW0P", "WiFi/BT Module Temperature"},
        {"power", "PSTR", "Total System Power"},
        {"power", "PDTR", "AC Input Power"},
        {"power", "PMVR", "3.8 V Rail Power"},
        {"current", "ID0R", "AC Input Current"},
    };
    if (isLaptop(profile)) {
        list.insert(list.end(), {{"temperature", "TB0T", "Battery Hotspot Temperature"},
                                 {"temperature", "TCHP", "Charge Regulator Temperature"},
                                 {"power", "PHPC", "Heatpipe Power"},
                                 {"voltage", "VD0R", "Charger Input Voltage"},
                                 {"voltage", "SBAV", "Battery Voltage"}});
    } else {
        list.push_back({"voltage", "VD0R", "AC Input Voltage"});
    }
    if (keys == Options::Keys::mainline) {
        return list;
    }
    std::vector<std::string> extra{std::string(SensorReader::cpuHotspotKey),
                                   std::string(SensorReader::gpuHotspotKey)};
    for (const auto& group : {std::span<const std::string_view>(SensorReader::m3CPUCoreKeys),
                              std::span<const std::string_view>(SensorReader::m3GPUClusterKeys),
                              std::span<const std::string_view>(SensorReader::m3LeftChassisKeys),
                              std::span<const std::string_view>(SensorReader::m3RightChassisKeys)}) {
        extra.insert(extra.end(), group.begin(), group.end());
    }
    for (const auto& key : extra) {
        const bool present =
            std::any_of(profile.keys.begin(), profile.keys.end(), [&](const SimulatedKey& entry) {
                return entry.key == SMCKey::fromString(key) && entry.isFloat();
            });
        const bool listed =
            std::any_of(list.begin(), list.end(), [&](const Channel& channel) { return channel.key == key; });
        if (present && !listed) {
            const auto known = extendedLabels.find(key);
            list.push_back(
                {"temperature", key, known != extendedLabels.end() ? known->second : "Sensor " + key});
        }
    }
    return list;
}

std::optional<double> SimulatedHwmonDevice::channelValue(const Channel& channel) {
    const auto read = [&](const std::string& key) -> std::optional<double> {
        try {
            return firmware_.readTemperature(SMCKey::fromString(key));
        } catch (const SMCError&) {
            return std::nullopt;
        }
    };
    if (channel.type == "temperature") {
        // Apple-silicon SMCs that have no TH0x name their NAND probe TH0a.
        const auto value = read(channel.key);
        return value || channel.key != "TH0x" ? value : read("TH0a");
    }
    // The SMC's own power keys when the profile has them; else from the physics they stand for.
    const double soc = mac_.effectivePower().total();
    const double total = read("PSTR").value_or(soc + platformWatts);
    const double inputVolts = laptop_ ? laptopInputVolts : desktopInputVolts;
    if (channel.key == "PSTR") {
        return total;
    }
    if (channel.key == "PHPC") {
        return read("PHPC").value_or(soc);
    }
    if (channel.key == "PDTR") {
        return total / 0.9; // the supply's own losses
    }
    if (channel.key == "PMVR") {
        return platformWatts * 0.6;
    }
    if (channel.key == "VD0R") {
        return inputVolts;
    }
    if (channel.key == "SBAV") {
        return batteryVolts;
    }
    if (channel.key == "ID0R") {
        return total / 0.9 / inputVolts;
    }
    return read(channel.key);
}

void SimulatedHwmonDevice::refresh() {
    for (auto& fan : fans_) {
        applyClientWrite(fan);
    }
    for (const auto& [channel, file] : channels_) {
        // Milli-units, micro for power.
        const double scale = channel.type == "power" ? 1e6 : 1e3;
        const auto value = channelValue(channel);
        if (!value) {
            // A key the firmware no longer has is a channel that went away; other failures keep the value.
            try {
                firmware_.getKeyInfo(SMCKey::fromString(channel.key));
            } catch (const SMCError& error) {
                if (error.kind() == SMCError::Kind::keyNotFound) {
                    publish(file, std::nullopt);
                }
            }
            continue;
        }
        publish(file, std::llround(*value * scale));
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
        // Nothing is cached: the SMC's target, its own while the fan is automatic.
        if (const auto target = speed("Tg")) {
            publishTarget(fan, *target);
        }
    }
    // Taken in, and this device's own writes of the targets: nothing left to wake for.
    char events[4096];
    while (notifier_ && ::read(notifier_.get(), events, sizeof events) > 0) {
    }
}

void SimulatedHwmonDevice::reload() {
    for (auto& fan : fans_) {
        fan.manual = false;
        fan.published.clear();
        fan.publishedAt.reset();
        const auto target = [&]() -> std::int64_t {
            try {
                return firmware_.readFanRPM(SMCKey::fan(fan.index, "Tg"));
            } catch (const SMCError&) {
                return 0;
            }
        }();
        publishTarget(fan, target, true);
    }
    watchTargets();
}

void SimulatedHwmonDevice::watchTargets() {
    for (const auto& fan : fans_) {
        ::inotify_add_watch(notifier_.get(), (fan.prefix.string() + "_target").c_str(), IN_CLOSE_WRITE);
    }
}

void SimulatedHwmonDevice::applyClientWrite(Fan& fan) {
    const fs::path file = fan.prefix.string() + "_target";
    const std::string text = contents(file);
    const std::string line = text.substr(0, text.find('\n'));
    if (text == fan.published + "\n" && sameTime(modified(file), fan.publishedAt)) {
        return;
    }
    // Whatever happens, what is published next replaces it.
    fan.published = line;
    fan.publishedAt.reset();
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (!options_.fanControl || error != std::errc() || end != line.data() + line.size()) {
        return;
    }
    if (value == 0) {
        if (fan.manual) {
            mac_.overrideFan(fan.index, std::nullopt);
            fan.manual = false;
        }
    } else if (fan.minimum && fan.maximum && value >= *fan.minimum && value <= *fan.maximum) {
        mac_.overrideFan(fan.index, static_cast<float>(value));
        fan.manual = true;
    }
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

void SimulatedHwmonDevice::publishTarget(Fan& fan, std::int64_t value, bool replace) {
    const fs::path file = fan.prefix.string() + "_target";
    const std::string text = std::to_string(value);
    // Writable by its owner (root) only, and only with the module's fan control on.
    const mode_t mode = options_.fanControl ? 0644 : 0444;
    if (replace) {
        writeFile(file, text + "\n", mode);
        fan.published = text;
        fan.publishedAt = modified(file);
        return;
    }
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
    FileDescriptor descriptor(::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, mode));
    const std::string line = text + "\n";
    if (!descriptor ||
        ::pwrite(descriptor.get(), line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()) ||
        ::ftruncate(descriptor.get(), static_cast<off_t>(line.size())) != 0) {
        throw SimulatorError("Cannot write " + file.string());
    }
    ::fchmod(descriptor.get(), mode);
    fan.published = text;
    fan.publishedAt = modified(file);
}

} // namespace quorvane
