#pragma once

#include "Platform/FileDescriptor.hpp"
#include "SMC/IOKitSMCBridge.hpp"

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class SimulatedMac;
struct SMCProfile;

// The simulated Mac as the kernel's macsmc_hwmon driver would show it, kept in a folder:
//   hwmon/hwmon0             the hwmon device (what /sys/class/hwmon holds), name "macsmc_hwmon"
//   devices/smc-hwmon        its parent device, whose of_node is the driver's device-tree node and
//                            whose driver/module/parameters hold the module parameter
//   device-tree              what /proc/device-tree holds: the board's compatible list and the SMC
//                            node with one "<type>-<KEY>" node per channel
// It is as strict as the driver: the channels are the ones real device trees list for the kind of
// machine, and what a client writes to fanX_target is applied with the driver's rules (see refresh).
// Not synchronised: one thread calls refresh() and reload().
class SimulatedHwmonDevice {
public:
    struct Options {
        // What the device tree lists: what kernels' trees list for a laptop or a desktop, or also the
        // CPU, GPU and chassis keys of a patched tree (the only way fan zones can be formed).
        enum class Keys { mainline, extended };
        // One node per channel, or the older Asahi trees' nodes grouped under temperature/, fan/, ...
        // whose driver names its parameter melt_my_mac.
        enum class Layout { flat, grouped };
        Keys keys = Keys::mainline;
        Layout layout = Layout::flat;
        // The module parameter: fan targets are 0644 and taken only with it on.
        bool fanControl = false;
    };

    // One channel a device tree lists: its node type ("temperature", "power", "voltage", "current"),
    // key and label.
    struct Channel {
        std::string type;
        std::string key;
        std::string label;
    };

    // Lays the device out (earlier contents of its folders are replaced). Throws SimulatorError when
    // the folder cannot be written. The machine must outlive the device.
    SimulatedHwmonDevice(SimulatedMac& mac, std::filesystem::path directory, Options options);
    SimulatedHwmonDevice(SimulatedMac& mac, std::filesystem::path directory)
        : SimulatedHwmonDevice(mac, std::move(directory), Options{}) {}
    // Removes the folders: the driver is gone.
    ~SimulatedHwmonDevice();
    SimulatedHwmonDevice(const SimulatedHwmonDevice&) = delete;
    SimulatedHwmonDevice& operator=(const SimulatedHwmonDevice&) = delete;

    // Applies what was written to the fans' targets since the last call, as the driver would have:
    // refused without fan control; a target within the fan's limits writes mode 1 (only while the
    // driver's per-fan manual flag is clear), sets the flag and writes the target; 0 writes mode 0 only
    // while the flag is set, else does nothing; anything else is refused. Then publishes every value.
    void refresh();
    // A module reload: every fan's manual flag clears and its files are new; the SMC keeps the modes
    // it was given.
    void reload();
    // Readable whenever a client closed a fan target it wrote; refresh() drains it.
    int writeNotifier() const { return notifier_.get(); }

    std::filesystem::path hwmonRoot() const { return directory_ / "hwmon"; }
    std::filesystem::path deviceTree() const { return directory_ / "device-tree"; }

    // The channels besides the fans a device tree lists for the profile.
    static std::vector<Channel> channels(const SMCProfile& profile, Options::Keys keys);

private:
    struct Fan {
        int index = 0;
        std::filesystem::path prefix;
        // The text this device last put in fanX_target; anything else there was a client's write.
        std::string published;
        std::optional<timespec> publishedAt;
        // The driver's own flag: set by a target it took, cleared by the 0 it acted on or a reload.
        bool manual = false;
        std::optional<std::int64_t> minimum;
        std::optional<std::int64_t> maximum;
    };

    void applyClientWrite(Fan& fan);
    std::optional<double> channelValue(const Channel& channel);
    void publish(const std::filesystem::path& file, std::optional<std::int64_t> value);
    void publishTarget(Fan& fan, std::int64_t value, bool replace = false);
    void watchTargets();

    SimulatedMac& mac_;
    std::filesystem::path directory_;
    std::filesystem::path device_;
    Options options_;
    bool laptop_ = true;
    IOKitSMCBridge firmware_;
    FileDescriptor notifier_;
    std::vector<std::pair<Channel, std::filesystem::path>> channels_;
    std::vector<Fan> fans_;
    // The value each read-only channel file holds, or nullopt once it was removed.
    std::map<std::string, std::optional<std::int64_t>> published_;
};

} // namespace quorvane
