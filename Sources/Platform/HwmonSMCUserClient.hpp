#pragma once

#include "SMC/SMCKey.hpp"
#include "SMC/SMCUserClient.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvane {

// The SMC of an Apple-silicon Mac running Linux, as the kernel's macsmc_hwmon driver shows it: an
// hwmon device whose channels are named by the device-tree nodes under device/of_node (one
// "<type>-<KEY>" node per channel, or older trees' nodes grouped under "temperature", "fan", ...;
// matched to their channels by label). The transport answers the record protocol from them, so the
// bridge's rules apply unchanged:
// - the key table is the keys the device tree names, plus FNum; "#KEY" is their count;
// - temperatures, fan speeds, power (W), voltage (V) and current (A) read as "flt " from the channel
//   files, every read a round trip to the SMC as the driver caches nothing;
// - the driver cannot say whether a fan is manual, so F<n>Md is what this transport last made it;
// - F<n>Tg writes go to fanX_target while the fan is manual; the driver takes the fan manual with
//   its first target, so a target written while automatic is dropped, as the SMC's thermal manager
//   would override it; F<n>Tg reads give the SMC's target, its own while automatic;
// - the driver writes the mode key for 0 only when its own per-fan flag is set, which a module reload
//   or another writer leaves clear. So a hand-back whose driver state is unknown (a controlling
//   transport's first, one after a failed write, one after the driver was reloaded) first writes
//   the fan's minimum, which sets the flag, and reads manual until the next automatic write writes 0:
//   the bridge's mode retry spaces the two;
// - mode and target keys are writable only where fanX_target is (the module's fan_control=1);
// - there is no "Ftst": such a machine behaves like one without the diagnostic unlock.
// Failed file operations answer what AppleSMC would: a vanished channel is a missing key, EIO and
// ETIMEDOUT transient firmware results, EACCES and EOPNOTSUPP the kernel's not-privileged code.
class HwmonSMCUserClient final : public SMCUserClient {
public:
    struct Options {
        // A writer cannot know what a crashed predecessor left behind: until it first writes a fan,
        // that fan's mode reads manual, so the first reset hands it back.
        bool assumeManualUntilWritten = false;
        // Writes text to a channel file; 0 or the errno. Tests stand in for the driver's failures.
        std::function<int(const std::filesystem::path&, const std::string&)> writeFile;
    };

    // The loaded driver's fan-control parameter and whether it is on.
    struct Parameter {
        std::string name;
        bool enabled = false;
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
    // fan_control, or melt_my_mac on older kernels, from the device's module; nullopt if unreadable.
    static std::optional<Parameter> parameter(const std::filesystem::path& device);

    bool serviceExists() override;
    // Reads the device tree and the channels; the key table stays as found until the next open.
    std::uint32_t open() override;
    void close() override;
    std::uint32_t callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                   SMCParamStruct& output, std::size_t& outputSize) override;
    std::string failureReason() const override { return failure_; }

    // The key table in key order, after open().
    const std::vector<Key>& keys() const { return keys_; }
    const std::filesystem::path& device() const { return device_; }

    static constexpr const char* driverName = "macsmc_hwmon";

private:
    enum class Mode { automatic, manual, unknown, minimumWritten };
    struct Fan {
        Mode mode = Mode::automatic;
        std::filesystem::path target;
        std::filesystem::path minimum;
        std::filesystem::path maximum;
        // The target file this transport last wrote: another one means the driver was reloaded.
        std::optional<std::pair<dev_t, ino_t>> written;
        // A target given while the driver drives nothing: the driver cannot take it, and the
        // hand-back's minimum target must not wait for it.
        std::optional<float> held;
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
    Outcome handBack(Fan& fan);
    Outcome outcomeOf(int error) const;

    std::filesystem::path device_;
    Options options_;
    bool open_ = false;
    std::vector<Key> keys_;
    std::map<int, Fan> fans_;
    mutable std::string failure_;
};

} // namespace quorvane
