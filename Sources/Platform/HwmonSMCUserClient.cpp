#include "Platform/HwmonSMCUserClient.hpp"

#include "Platform/FileDescriptor.hpp"
#include "SMC/IOKitReturn.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace fs = std::filesystem;
using Source = HwmonSMCUserClient::Key::Source;

namespace {

constexpr std::uint8_t readable = 0x80;
constexpr std::uint8_t writable = 0x40;
constexpr std::uint32_t floatType = SMCKey::fromString("flt ").rawValue;
constexpr std::uint32_t byteType = SMCKey::fromString("ui8 ").rawValue;
constexpr std::uint32_t countType = SMCKey::fromString("ui32").rawValue;
constexpr SMCKey keyCount = SMCKey::fromString("#KEY");
constexpr SMCKey fanCount = SMCKey::fromString("FNum");

// A device-tree string property: its bytes up to the first NUL.
std::optional<std::string> property(const fs::path& node, const char* name) {
    std::ifstream file(node / name, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

std::string firstLine(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

struct Number {
    std::optional<long long> value;
    int error = 0;
};

// A channel file holds one whole number; a writer may leave older digits after the first line.
Number readNumber(const fs::path& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        return {std::nullopt, errno};
    }
    char buffer[64];
    const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
    if (count < 0) {
        return {std::nullopt, errno};
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(buffer, buffer + count, value);
    if (error != std::errc() || (end != buffer + count && *end != '\n')) {
        return {std::nullopt, EIO};
    }
    return {value, 0};
}

// Which channel files a node type names. Older device trees spell some types short ("temp-TH0x",
// "apple,volt-keys").
struct ChannelType {
    std::string_view node;
    std::string_view shortNode;
    std::string_view prefix;
    Source source;
};
constexpr std::array<ChannelType, 5> channelTypes{{
    {"temperature", "temp", "temp", Source::temperature},
    {"fan", "fan", "fan", Source::fanActual},
    {"power", "power", "power", Source::power},
    {"voltage", "volt", "in", Source::voltage},
    {"current", "current", "curr", Source::current},
}};

// The type a node's name gives: "temperature-TW0P", "temperature" and "apple,temp-keys" all say
// temperature.
const ChannelType* typeOf(std::string name) {
    if (name.starts_with("apple,")) {
        name.erase(0, 6);
    }
    name = name.substr(0, name.find('-'));
    for (const auto& type : channelTypes) {
        if (name == type.node || name == type.shortNode) {
            return &type;
        }
    }
    return nullptr;
}

int writeText(const fs::path& path, const std::string& text) {
    // No truncation: sysfs ignores it, and in a plain directory a reader never sees an empty file.
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!file) {
        return errno;
    }
    if (::pwrite(file.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        return errno != 0 ? errno : EIO;
    }
    return 0;
}

std::optional<std::pair<dev_t, ino_t>> identityOf(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return std::pair{status.st_dev, status.st_ino};
}

// From the channel's milli- or micro-units to the key's.
double scaleOf(Source source) {
    switch (source) {
    case Source::temperature:
    case Source::voltage:
    case Source::current:
        return 1000.0;
    case Source::power:
        return 1000000.0;
    default:
        return 1.0;
    }
}

void putFloat(SMCParamStruct& output, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) {
        output.bytes()[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

float floatFrom(const SMCParamStruct& input) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        bits |= static_cast<std::uint32_t>(input.bytes()[i]) << (8 * i);
    }
    return std::bit_cast<float>(bits);
}

} // namespace

HwmonSMCUserClient::HwmonSMCUserClient(fs::path device, Options options)
    : device_(std::move(device)), options_(options) {}

std::optional<fs::path> HwmonSMCUserClient::findDevice(const fs::path& root) {
    std::error_code error;
    std::vector<fs::path> devices;
    for (const auto& entry : fs::directory_iterator(root, error)) {
        devices.push_back(entry.path());
    }
    std::sort(devices.begin(), devices.end());
    for (const auto& device : devices) {
        if (firstLine(device / "name") == driverName) {
            return device;
        }
    }
    return std::nullopt;
}

std::optional<HwmonSMCUserClient::Parameter> HwmonSMCUserClient::parameter(const fs::path& device) {
    for (const fs::path& folder : {device / "device" / "driver" / "module" / "parameters",
                                   fs::path("/sys/module/macsmc_hwmon/parameters")}) {
        for (const char* name : {"fan_control", "melt_my_mac"}) {
            std::error_code error;
            if (fs::exists(folder / name, error)) {
                const std::string value = firstLine(folder / name);
                return Parameter{name, value == "Y" || value == "y" || value == "1"};
            }
        }
    }
    return std::nullopt;
}

bool HwmonSMCUserClient::serviceExists() {
    return firstLine(device_ / "name") == driverName;
}

std::uint32_t HwmonSMCUserClient::open() {
    if (!serviceExists()) {
        return IOKitReturn::notResponding;
    }
    keys_.clear();
    fans_.clear();
    // Channel labels: "temp3" labelled "NAND Flash Temperature" is found as {"temp", label} → 3.
    std::map<std::pair<std::string, std::string>, std::vector<int>> channels;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(device_, error)) {
        const std::string name = entry.path().filename();
        if (!name.ends_with("_label")) {
            continue;
        }
        const auto digits = name.find_first_of("0123456789");
        int number = 0;
        const auto end = name.data() + name.size() - 6;
        if (digits == std::string::npos || std::from_chars(name.data() + digits, end, number).ptr != end) {
            continue;
        }
        channels[{name.substr(0, digits), firstLine(entry.path())}].push_back(number);
    }
    for (auto& [label, numbers] : channels) {
        std::sort(numbers.begin(), numbers.end(), std::greater<>());
    }

    // Channel nodes with their type: directly under of_node, or one level down in a group node.
    std::vector<std::pair<fs::path, const ChannelType*>> nodes;
    for (const auto& entry : fs::directory_iterator(device_ / "device" / "of_node", error)) {
        if (!entry.is_directory()) {
            continue;
        }
        const ChannelType* type = typeOf(entry.path().filename());
        if (fs::exists(entry.path() / "apple,key-id")) {
            nodes.emplace_back(entry.path(), type);
            continue;
        }
        for (const auto& child : fs::directory_iterator(entry.path(), error)) {
            if (child.is_directory()) {
                const ChannelType* own = typeOf(child.path().filename());
                nodes.emplace_back(child.path(), own != nullptr ? own : type);
            }
        }
    }
    std::sort(nodes.begin(), nodes.end());
    const auto add = [&](const std::optional<std::string>& name, Source source, fs::path file, int fan,
                         const std::string& label) {
        if (name && name->size() == 4) {
            keys_.push_back({SMCKey::fromString(*name), source, std::move(file), fan, label});
        }
    };
    for (const auto& [node, type] : nodes) {
        const auto key = property(node, "apple,key-id");
        const auto label = property(node, "label");
        if (type == nullptr || !key || !label) {
            continue;
        }
        // Channels are matched to nodes by label; a repeated label takes its channels in order.
        auto channel = channels.find({std::string(type->prefix), *label});
        if (channel == channels.end() || channel->second.empty()) {
            continue;
        }
        const std::string prefix = std::string(type->prefix) + std::to_string(channel->second.back());
        channel->second.pop_back();
        if (type->source != Source::fanActual) {
            add(key, type->source, device_ / (prefix + "_input"), -1, *label);
            continue;
        }
        if (key->size() != 4 || key->front() != 'F' || !std::isdigit(static_cast<unsigned char>((*key)[1]))) {
            continue;
        }
        const int fan = (*key)[1] - '0';
        const fs::path target = device_ / (prefix + "_target");
        add(key, Source::fanActual, device_ / (prefix + "_input"), fan, *label);
        add(property(node, "apple,fan-minimum"), Source::fanMinimum, device_ / (prefix + "_min"), fan,
            *label);
        add(property(node, "apple,fan-maximum"), Source::fanMaximum, device_ / (prefix + "_max"), fan,
            *label);
        add(property(node, "apple,fan-target"), Source::fanTarget, target, fan, *label);
        add(property(node, "apple,fan-mode"), Source::fanMode, target, fan, *label);
        fans_[fan] = Fan{Mode::automatic, target, device_ / (prefix + "_min"), device_ / (prefix + "_max"),
                         std::nullopt};
    }
    if (!fans_.empty()) {
        keys_.push_back({fanCount, Source::fanCount, {}, -1, "fan count"});
    }
    // Stable: of two nodes naming one key, the first stays.
    std::stable_sort(keys_.begin(), keys_.end(),
                     [](const Key& lhs, const Key& rhs) { return lhs.key < rhs.key; });
    keys_.erase(std::unique(keys_.begin(), keys_.end(),
                            [](const Key& lhs, const Key& rhs) { return lhs.key == rhs.key; }),
                keys_.end());
    for (auto& [index, fan] : fans_) {
        struct stat status {};
        const bool canWrite = ::stat(fan.target.c_str(), &status) == 0 && (status.st_mode & 0222) != 0 &&
                              ::access(fan.target.c_str(), W_OK) == 0;
        fan.mode = options_.assumeManualUntilWritten && canWrite ? Mode::unknown : Mode::automatic;
    }
    open_ = true;
    return IOKitReturn::success;
}

void HwmonSMCUserClient::close() {
    open_ = false;
}

std::uint32_t HwmonSMCUserClient::callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                                   SMCParamStruct& output, std::size_t& outputSize) {
    if (!open_) {
        return IOKitReturn::notOpen;
    }
    if (selector != smcSelector || outputSize != SMCParamStruct::size) {
        return IOKitReturn::badArgument;
    }
    output = SMCParamStruct{};
    output.setKey(input.key());
    failure_.clear();
    Outcome outcome;
    switch (input.command()) {
    case SMCParamStruct::keyInfo:
        outcome = keyInfo(input, output);
        break;
    case SMCParamStruct::readBytes:
        outcome = read(input, output);
        break;
    case SMCParamStruct::writeBytes:
        outcome = write(input);
        break;
    case SMCParamStruct::keyByIndex:
        if (input.keyIndex() < keys_.size()) {
            output.setKey(keys_[input.keyIndex()].key.rawValue);
        } else {
            outcome.result = SMCParamStruct::keyIndexOutOfRange;
        }
        break;
    default:
        outcome.result = SMCParamStruct::badCommand;
    }
    if (outcome.code != IOKitReturn::success) {
        return outcome.code;
    }
    output.setResult(outcome.result);
    return IOKitReturn::success;
}

const HwmonSMCUserClient::Key* HwmonSMCUserClient::find(SMCKey key) const {
    const auto found = std::lower_bound(keys_.begin(), keys_.end(), key,
                                        [](const Key& entry, SMCKey wanted) { return entry.key < wanted; });
    return found != keys_.end() && found->key == key ? &*found : nullptr;
}

bool HwmonSMCUserClient::targetWritable(const Key& key) const {
    if (key.source != Source::fanTarget && key.source != Source::fanMode) {
        return false;
    }
    struct stat status {};
    return ::stat(key.file.c_str(), &status) == 0 && (status.st_mode & 0222) != 0;
}

HwmonSMCUserClient::Outcome HwmonSMCUserClient::keyInfo(const SMCParamStruct& input,
                                                        SMCParamStruct& output) const {
    const SMCKey wanted(input.key());
    if (wanted == keyCount) {
        output.setDataSize(4);
        output.setDataType(countType);
        output.setDataAttributes(readable);
        return {};
    }
    const Key* key = find(wanted);
    if (key == nullptr) {
        return {0, SMCParamStruct::keyNotFound};
    }
    if (!key->file.empty() && ::access(key->file.c_str(), F_OK) != 0) {
        return outcomeOf(errno);
    }
    const bool isByte = key->source == Source::fanMode || key->source == Source::fanCount;
    output.setDataSize(isByte ? 1 : 4);
    output.setDataType(isByte ? byteType : floatType);
    output.setDataAttributes(static_cast<std::uint8_t>(readable | (targetWritable(*key) ? writable : 0)));
    return {};
}

HwmonSMCUserClient::Outcome HwmonSMCUserClient::read(const SMCParamStruct& input, SMCParamStruct& output) {
    const SMCKey wanted(input.key());
    if (wanted == keyCount) {
        if (input.dataSize() != 4) {
            return {0, SMCParamStruct::keySizeMismatch};
        }
        const auto count = static_cast<std::uint32_t>(keys_.size());
        for (std::size_t i = 0; i < 4; ++i) {
            output.bytes()[i] = static_cast<std::uint8_t>(count >> (8 * (3 - i)));
        }
        output.setDataSize(4);
        return {};
    }
    const Key* key = find(wanted);
    if (key == nullptr) {
        return {0, SMCParamStruct::keyNotFound};
    }
    const bool isByte = key->source == Source::fanMode || key->source == Source::fanCount;
    if (input.dataSize() != (isByte ? 1u : 4u)) {
        return {0, SMCParamStruct::keySizeMismatch};
    }
    output.setDataSize(input.dataSize());
    if (key->source == Source::fanCount) {
        output.bytes()[0] = static_cast<std::uint8_t>(fans_.size());
        return {};
    }
    if (key->source == Source::fanMode) {
        if (::access(key->file.c_str(), F_OK) != 0) {
            return outcomeOf(errno);
        }
        output.bytes()[0] = fans_.at(key->fan).mode == Mode::automatic ? 0 : 1;
        return {};
    }
    if (key->source == Source::fanTarget) {
        if (const auto& fan = fans_.at(key->fan); fan.mode == Mode::automatic && fan.held) {
            putFloat(output, *fan.held);
            return {};
        }
    }
    const auto number = readNumber(key->file);
    if (!number.value) {
        return outcomeOf(number.error);
    }
    putFloat(output, static_cast<float>(static_cast<double>(*number.value) / scaleOf(key->source)));
    return {};
}

HwmonSMCUserClient::Outcome HwmonSMCUserClient::write(const SMCParamStruct& input) {
    const Key* key = find(SMCKey(input.key()));
    if (key == nullptr) {
        return {0, SMCParamStruct::keyNotFound};
    }
    if (!key->file.empty() && ::access(key->file.c_str(), F_OK) != 0) {
        return outcomeOf(errno);
    }
    if (!targetWritable(*key)) {
        return {0, SMCParamStruct::notWritable};
    }
    auto& fan = fans_.at(key->fan);
    if (key->source == Source::fanMode) {
        if (input.dataSize() != 1) {
            return {0, SMCParamStruct::keySizeMismatch};
        }
        const std::uint8_t mode = input.bytes()[0];
        if (mode == 1) {
            // The driver switches to manual with the first target; until then only this flag changes.
            if (fan.mode == Mode::automatic) {
                fan.mode = Mode::manual;
                fan.held.reset();
            }
            return {};
        }
        return mode == 0 ? handBack(fan) : Outcome{IOKitReturn::badArgument, 0};
    }
    if (input.dataSize() != 4) {
        return {0, SMCParamStruct::keySizeMismatch};
    }
    const float value = floatFrom(input);
    if (!std::isfinite(value) || value < 0) {
        return {IOKitReturn::badArgument, 0};
    }
    const long long rpm = std::llround(value);
    if (rpm != 0 && fan.mode == Mode::automatic) {
        fan.held = value;
        return {};
    }
    return rpm == 0 ? handBack(fan) : writeTarget(fan, rpm);
}

HwmonSMCUserClient::Outcome HwmonSMCUserClient::handBack(Fan& fan) {
    const bool reloaded = fan.written && identityOf(fan.target) != fan.written;
    if (fan.mode == Mode::unknown || (fan.mode == Mode::manual && reloaded)) {
        // The driver ignores 0 until a target of its own set its flag: the minimum, then 0 next time.
        const auto minimum = readNumber(fan.minimum);
        if (!minimum.value) {
            return outcomeOf(minimum.error);
        }
        const auto outcome = writeTarget(fan, *minimum.value);
        if (outcome.code == IOKitReturn::success && outcome.result == 0) {
            fan.mode = Mode::minimumWritten;
        }
        return outcome;
    }
    return writeTarget(fan, 0);
}

HwmonSMCUserClient::Outcome HwmonSMCUserClient::writeTarget(Fan& fan, long long rpm) {
    if (rpm != 0) {
        // The driver refuses a target outside the fan's limits; a plain directory would not.
        const auto minimum = readNumber(fan.minimum);
        const auto maximum = readNumber(fan.maximum);
        if (minimum.value && maximum.value && (rpm < *minimum.value || rpm > *maximum.value)) {
            return outcomeOf(EINVAL);
        }
    }
    const std::string text = std::to_string(rpm) + "\n";
    if (const int error =
            options_.writeFile ? options_.writeFile(fan.target, text) : writeText(fan.target, text)) {
        // The driver may have written the mode key and not the target: nobody knows what the fan is in.
        fan.mode = Mode::unknown;
        return outcomeOf(error);
    }
    fan.mode = rpm == 0 ? Mode::automatic : Mode::manual;
    fan.written = identityOf(fan.target);
    fan.held.reset();
    return {};
}

HwmonSMCUserClient::Outcome HwmonSMCUserClient::outcomeOf(int error) const {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return {0, SMCParamStruct::keyNotFound};
    // The driver answers EIO for every SMC failure, a missing or unwritable key and an SMC that is
    // not ready alike, and ETIMEDOUT for a command slower than 500 ms: all taken as transient, so the
    // bridge's bounded retry applies.
    case EIO:
    case ETIMEDOUT:
    case EINTR:
        return {0, SMCParamStruct::badCommand};
    case ENODATA:
        return {0, SMCParamStruct::notReadable};
    case EOPNOTSUPP: {
        const auto loaded = parameter(device_);
        const std::string name =
            loaded ? loaded->name + "=1" : "fan_control=1 (melt_my_mac=1 on older kernels)";
        failure_ = "Fan control is off in the kernel's macsmc_hwmon driver; it takes fan speeds only when "
                   "loaded with " +
                   name + ".";
        return {IOKitReturn::notPrivileged, 0};
    }
    case EACCES:
    case EPERM:
    case EROFS:
        return {IOKitReturn::notPrivileged, 0};
    case EINVAL:
    case ERANGE:
        return {IOKitReturn::badArgument, 0};
    default:
        return {IOKitReturn::error, 0};
    }
}

} // namespace quorvane
