#pragma once

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
//   devices/smc-hwmon        its parent device, whose of_node is the driver's device-tree node
//   device-tree              what /proc/device-tree holds: the board's compatible list and the SMC
//                            node with one "<type>-<KEY>" node per channel
// The machine's fans and a realistic subset of its temperature keys are published. What a client
// writes to fanX_target is applied with the driver's rules: a target within the fan's limits puts
// it in manual at that speed, 0 returns it to automatic, anything else is ignored (the driver
// refuses it). Not synchronised: one thread calls refresh().
class SimulatedHwmonDevice {
public:
    // Lays the device out (earlier contents of the three folders are replaced). Throws
    // SimulatorError when the folder cannot be written. The machine must outlive the device.
    SimulatedHwmonDevice(SimulatedMac& mac, std::filesystem::path directory);
    // Removes the three folders: the driver is gone.
    ~SimulatedHwmonDevice();
    SimulatedHwmonDevice(const SimulatedHwmonDevice&) = delete;
    SimulatedHwmonDevice& operator=(const SimulatedHwmonDevice&) = delete;

    // Applies what was written to the fans' targets since the last call, then publishes every value.
    void refresh();

    std::filesystem::path hwmonRoot() const { return directory_ / "hwmon"; }
    std::filesystem::path deviceTree() const { return directory_ / "device-tree"; }

    // The temperature keys a device tree would list for the profile: the laptop keys mainline
    // kernels name, and the CPU, GPU and chassis keys that fuller device trees add.
    static std::vector<std::string> temperatureKeys(const SMCProfile& profile);

private:
    struct Fan {
        int index = 0;
        std::filesystem::path prefix;
        // The text this device last put in fanX_target; anything else there was a client's write.
        std::string published;
        std::optional<timespec> publishedAt;
        std::optional<float> manualTarget;
        std::optional<std::int64_t> minimum;
        std::optional<std::int64_t> maximum;
    };

    void applyClientWrite(Fan& fan);
    void publish(const std::filesystem::path& file, std::optional<std::int64_t> value);
    void publishTarget(Fan& fan, std::int64_t value);

    SimulatedMac& mac_;
    std::filesystem::path directory_;
    std::filesystem::path device_;
    IOKitSMCBridge firmware_;
    std::vector<std::pair<std::string, std::filesystem::path>> temperatures_;
    std::vector<Fan> fans_;
    // The value each read-only channel file holds, or nullopt once it was removed.
    std::map<std::string, std::optional<std::int64_t>> published_;
};

} // namespace quorvane
