#pragma once

#include "SMC/SMCKey.hpp"
#include "SMC/SMCUserClient.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// The SMC of an Apple-silicon Mac running Linux, as the kernel's macsmc_hwmon driver shows it: an
// hwmon device whose channels are named by the device-tree nodes under device/of_node (one
// "<type>-<KEY>" node per channel, matched to its channel by label). The transport answers the
// record protocol from them, so the bridge's rules apply unchanged:
// - the key table is the keys the device tree names, plus FNum; "#KEY" is their count;
// - temperatures, fan speeds, power, voltage and current read as "flt " from the channel files;
// - the driver cannot say whether a fan is manual, so F<n>Md is what this transport last made it;
// - F<n>Tg goes to fanX_target, where any target puts the fan in manual and 0 hands it back, so a
//   target written while the fan is automatic is held here, as the SMC holds a target its thermal
//   manager then overrides, instead of taking the fan out of automatic;
// - mode and target keys are writable only where fanX_target is (the driver's fan_control=1);
// - there is no "Ftst": such a machine behaves like one without the diagnostic unlock.
// Failed file operations answer what AppleSMC would: a vanished channel is a missing key, EAGAIN and
// EIO are transient firmware results, EACCES, EPERM and EOPNOTSUPP the kernel's not-privileged code.
class HwmonSMCUserClient final : public SMCUserClient {
public:
    struct Options {
        // A writer cannot know what a crashed predecessor left behind: until it first writes a fan,
        // that fan's mode reads manual, so the first reset hands it back.
        bool assumeManualUntilWritten = false;
    };

    // One key and the channel file behind it (empty for the keys this transport keeps itself).
    struct Key {
        enum class Source {
            temperature,
            fanActual,
            fanMinimum,
            fanMaximum,
            fanTarget,
            fanMode,
            power,
            voltage,
            current,
            fanCount
        };
        SMCKey key;
        Source source = Source::temperature;
        std::filesystem::path file;
        int fan = -1;
        std::string label;
    };

    explicit HwmonSMCUserClient(std::filesystem::path device)
        : HwmonSMCUserClient(std::move(device), Options{}) {}
    HwmonSMCUserClient(std::filesystem::path device, Options options);

    // The first hwmon device under root (e.g. /sys/class/hwmon) named macsmc_hwmon.
    static std::optional<std::filesystem::path> findDevice(const std::filesystem::path& root);

    bool serviceExists() override;
    // Reads the device tree and the channels; the key table stays as found until the next open.
    std::uint32_t open() override;
    void close() override;
    std::uint32_t callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                   SMCParamStruct& output, std::size_t& outputSize) override;

    // The key table in key order, after open().
    const std::vector<Key>& keys() const { return keys_; }
    const std::filesystem::path& device() const { return device_; }

    static constexpr const char* driverName = "macsmc_hwmon";

private:
    enum class Mode { unknown, automatic, manual };
    struct Fan {
        Mode mode = Mode::automatic;
        std::optional<float> heldTarget;
        std::filesystem::path target;
        std::filesystem::path minimum;
        std::filesystem::path maximum;
    };
    // What a failed file operation answers: a kernel code, or a firmware result inside a good call.
    struct Outcome {
        std::uint32_t code = 0;
        std::uint8_t result = 0;
    };

    const Key* find(SMCKey key) const;
    bool targetWritable(const Key& key) const;
    Outcome keyInfo(const SMCParamStruct& input, SMCParamStruct& output) const;
    Outcome read(const SMCParamStruct& input, SMCParamStruct& output);
    Outcome write(const SMCParamStruct& input);
    Outcome writeTarget(Fan& fan, long long rpm);
    static Outcome outcomeOf(int error);

    std::filesystem::path device_;
    Options options_;
    bool open_ = false;
    std::vector<Key> keys_;
    std::map<int, Fan> fans_;
};

} // namespace quorvane
