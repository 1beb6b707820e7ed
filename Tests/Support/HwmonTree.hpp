#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace quorvane::testing {

// The macsmc_hwmon driver of a mainline kernel on an M1 Pro MacBook Pro (board j314s) laid out as
// the kernel does under root: sys/class/hwmon/hwmon3 links to the device, whose device/of_node is
// the driver's node in the firmware device tree, which proc/device-tree links to. Two fans and the
// four laptop temperature keys; the device tree lists the nodes in another order than the channels
// are numbered. Another hwmon device (an NVMe drive) comes first.
class HwmonTree {
public:
    explicit HwmonTree(const std::filesystem::path& root) : root_(root) {
        namespace fs = std::filesystem;
        const fs::path base = root / "sys/firmware/devicetree/base";
        const fs::path node = base / "soc/smc@23e400000/hwmon";
        const fs::path parent = root / "sys/devices/platform/soc/23e400000.smc/macsmc-hwmon";
        fs::create_directories(node);
        fs::create_directories(parent / "hwmon/hwmon3");
        fs::create_directories(root / "sys/class/hwmon");
        fs::create_directories(root / "sys/devices/nvme0/hwmon/hwmon0");
        fs::create_directories(root / "proc");
        fs::create_directory_symlink("../sys/firmware/devicetree/base", root / "proc/device-tree");
        fs::create_directory_symlink("../../../../../firmware/devicetree/base/soc/smc@23e400000/hwmon",
                                     parent / "of_node");
        fs::create_directory_symlink("../..", parent / "hwmon/hwmon3/device");
        fs::create_directory_symlink("../../devices/platform/soc/23e400000.smc/macsmc-hwmon/hwmon/hwmon3",
                                     root / "sys/class/hwmon/hwmon3");
        fs::create_directory_symlink("../../devices/nvme0/hwmon/hwmon0", root / "sys/class/hwmon/hwmon0");
        write(root / "sys/devices/nvme0/hwmon/hwmon0/name", "nvme\n");
        write(base / "compatible", std::string("apple,j314s\0apple,t6000\0apple,arm-platform\0", 43));

        const auto addNode = [&](const std::string& name, const std::string& key, const std::string& label) {
            fs::create_directory(node / name);
            write(node / name / "name", name.substr(0, name.find('-')) + '\0');
            write(node / name / "apple,key-id", key + '\0');
            write(node / name / "label", label + '\0');
        };
        set("name", "macsmc_hwmon\n");
        // In device-tree order: key, label, channel, reading.
        const char* temperatures[][4] = {{"TW0P", "WiFi/BT Module Temp", "4", "36750"},
                                         {"TB0T", "Battery Hotspot", "2", "29250"},
                                         {"TH0x", "NAND Flash Temperature", "1", "31500"},
                                         {"TCHP", "Charge Regulator Temp", "3", "33000"}};
        for (const auto& [key, label, number, value] : temperatures) {
            addNode(std::string("temperature-") + key, key, label);
            set(std::string("temp") + number + "_label", std::string(label) + "\n");
            set(std::string("temp") + number + "_input", std::string(value) + "\n");
        }
        const char* fans[][4] = {{"F0", "Left Fan", "1", "1203"}, {"F1", "Right Fan", "2", "0"}};
        for (const auto& [key, label, number, actual] : fans) {
            const std::string name = std::string("fan-") + key + "Ac";
            addNode(name, std::string(key) + "Ac", label);
            for (const auto& [property, suffix] :
                 {std::pair{"minimum", "Mn"}, {"maximum", "Mx"}, {"target", "Tg"}, {"mode", "Md"}}) {
                write(node / name / (std::string("apple,fan-") + property), std::string(key) + suffix + '\0');
            }
            const std::string fan = std::string("fan") + number;
            set(fan + "_label", std::string(label) + "\n");
            set(fan + "_input", std::string(actual) + "\n");
            set(fan + "_min", "1200\n");
            set(fan + "_max", "5779\n");
            set(fan + "_target", std::string(actual) + "\n"); // writable: the module's fan_control=1
        }
    }

    std::filesystem::path hwmonRoot() const { return root_ / "sys/class/hwmon"; }
    std::filesystem::path deviceTree() const { return root_ / "proc/device-tree"; }
    std::filesystem::path device() const { return hwmonRoot() / "hwmon3"; }

    void set(const std::string& file, const std::string& text) { write(device() / file, text); }
    // The first line of a channel file, as the driver would print it.
    std::string value(const std::string& file) const {
        std::ifstream stream(device() / file);
        std::string line;
        std::getline(stream, line);
        return line;
    }
    void remove(const std::string& file) { std::filesystem::remove(device() / file); }

private:
    static void write(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }

    std::filesystem::path root_;
};

} // namespace quorvane::testing
