#include "Simulator/SimulatorCommandLine.hpp"

#include "Helpers/Clock.hpp"
#include "Platform/HardwareModel.hpp"
#include "Platform/HwmonSMCUserClient.hpp"
#include "Platform/SMCMachine.hpp"
#include "Platform/SMCSocketProtocol.hpp"
#include "Platform/SocketError.hpp"
#include "Platform/SocketSMCUserClient.hpp"
#include "SMC/FanController.hpp"
#include "SMC/IOKitReturn.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "SMC/SMCError.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/ScaledClock.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Simulator/SimulatedHwmonDevice.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Simulator/SimulatorControlClient.hpp"
#include "Simulator/SimulatorError.hpp"
#include "Simulator/SimulatorServer.hpp"
#include "Simulator/Workload.hpp"
#include "Simulator/WorkloadScript.hpp"

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/signal_set.hpp>
#include <charconv>
#include <cmath>
#include <csignal>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

constexpr int failure = 1;
constexpr int misuse = 2;

// A command line the tool cannot use; reported with exit status 2.
struct UsageError : SimulatorError {
    using SimulatorError::SimulatorError;
};

// "--name value" options, and the words that are not options.
class Arguments {
public:
    Arguments(std::vector<std::string> words, std::initializer_list<const char*> valued) {
        for (std::size_t i = 0; i < words.size(); ++i) {
            const bool takesValue =
                std::any_of(valued.begin(), valued.end(), [&](const char* name) { return words[i] == name; });
            if (takesValue) {
                if (i + 1 >= words.size()) {
                    throw UsageError(words[i] + " needs a value");
                }
                options_.emplace_back(words[i], words[i + 1]);
                ++i;
            } else {
                rest_.push_back(words[i]);
            }
        }
    }

    std::optional<std::string> option(const std::string& name) const {
        std::optional<std::string> value;
        for (const auto& [key, text] : options_) {
            if (key == name) {
                value = text;
            }
        }
        return value;
    }
    const std::vector<std::string>& rest() const { return rest_; }
    // A switch without a value, taken out of the rest.
    bool flag(const std::string& name) {
        const auto found = std::find(rest_.begin(), rest_.end(), name);
        if (found == rest_.end()) {
            return false;
        }
        rest_.erase(found);
        return true;
    }

private:
    std::vector<std::pair<std::string, std::string>> options_;
    std::vector<std::string> rest_;
};

void rejectExtra(const std::vector<std::string>& words, std::size_t allowed) {
    if (words.size() > allowed) {
        throw UsageError("unknown argument \"" + words[allowed] + "\"");
    }
}

SMCProfile profileNamed(const std::string& name) {
    if (auto profile = SMCProfiles::named(name)) {
        return *profile;
    }
    std::string known;
    for (const auto& profile : SMCProfiles::all()) {
        known += (known.empty() ? "" : ", ") + profile.name;
    }
    throw UsageError("Unknown profile \"" + name + "\"; known profiles: " + known);
}

Workload workloadNamed(const std::string& name) {
    try {
        return WorkloadScript::isPath(name) ? WorkloadScript::load(name) : Workload::named(name);
    } catch (const SimulatorError& error) {
        throw UsageError(error.what());
    }
}

double speedFactor(const std::string& text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value <= 0) {
        throw UsageError("--speed takes a factor above 0, e.g. 1 or 10");
    }
    return value;
}

std::uint64_t seedValue(const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        throw UsageError("--seed takes a whole number from 0");
    }
    return value;
}

int listProfiles(std::ostream& out) {
    for (const auto& profile : SMCProfiles::all()) {
        out << profile.name << "\t" << profile.description << "\n";
    }
    return 0;
}

std::string modeText(SMCInterface& smc, int index) {
    try {
        if (auto byte = smc.readKey(SMCKey::fan(index, "Md")).asUInt8()) {
            return MachineStatus::modeName(*byte);
        }
    } catch (const SMCError& error) {
        return std::string("unreadable: ") + error.what();
    }
    return "not a byte";
}

std::string optionalRPM(const std::optional<std::int64_t>& rpm) {
    return rpm ? std::to_string(*rpm) : std::string("unreadable");
}

// What the capability probe and the fan controller see through a read-only bridge, as the app would.
void printProbe(IOKitSMCBridge& bridge, const std::string& heading, std::ostream& out) {
    auto shared = std::shared_ptr<IOKitSMCBridge>(&bridge, [](IOKitSMCBridge*) {});
    FanController controller(shared);
    const auto& capabilities = controller.probeCapabilities();
    out << heading << "\n";
    out << "SMC keys: " << bridge.getKeyCount() << "\n";
    out << "Diagnostic lock (Ftst): " << (capabilities.hasDiagnosticLock ? "present" : "absent") << "\n";
    out << "Fans: " << capabilities.fans.size() << "\n";
    if (auto supervised = capabilities.supervisedFanIndex()) {
        out << "Supervised fan: " << *supervised << "\n";
    }
    for (const auto& fan : capabilities.fans) {
        out << "Fan " << fan.index << ": " << (fan.isControllable() ? "controllable" : "not controllable")
            << " (read " << (fan.canReadRPM ? "yes" : "no") << ", mode " << (fan.canSwitchMode ? "yes" : "no")
            << ", target " << (fan.canSetTarget ? "yes" : "no") << "), limits " << optionalRPM(fan.minimumRPM)
            << "..." << optionalRPM(fan.maximumRPM) << " RPM\n";
        try {
            const FanInfo info = controller.getFanInfo(fan.index);
            out << "  actual " << info.actualRPM << " RPM, min " << info.minRPM << ", max " << info.maxRPM
                << ", mode " << (info.mode == FanMode::manual ? "manual" : "automatic") << " (key "
                << modeText(bridge, fan.index) << "), target " << optionalRPM(info.targetRPM) << " RPM\n";
        } catch (const SMCError& error) {
            out << "  " << error.what() << "\n";
        }
    }
}

// A real Mac's keys as its device tree names them, for reporting a board that is not yet supported.
void printHwmonKeys(const SMCMachine& machine, std::ostream& out) {
    HwmonSMCUserClient client(machine.location());
    if (client.open() != IOKitReturn::success) {
        return;
    }
    out << "Board: " << HardwareModel::board(machine.deviceTree().string()).value_or("unknown") << "\n";
    const auto parameter = HwmonSMCUserClient::parameter(machine.location());
    out << "Driver parameter: "
        << (parameter ? parameter->name + (parameter->enabled ? " (on)" : " (off)")
                      : std::string("unreadable"))
        << "\n";
    bool writable = false;
    for (const auto& key : client.keys()) {
        if (key.source == HwmonSMCUserClient::Key::Source::fanTarget) {
            struct stat status {};
            writable = writable || (::stat(key.file.c_str(), &status) == 0 && (status.st_mode & 0222) != 0);
        }
    }
    out << "Fan targets: " << (writable ? "writable" : "read-only") << "\n";
    out << "Keys:\n";
    for (const auto& key : client.keys()) {
        out << "  " << IOKitSMCBridge::stringFromKey(key.key) << "  " << key.label << "  "
            << (key.file.empty() ? std::string("-") : key.file.filename().string()) << "\n";
    }
}

int probe(const Arguments& arguments, std::ostream& out) {
    rejectExtra(arguments.rest(), 0);
    if (const auto socket = arguments.option("--socket")) {
        IOKitSMCBridge bridge(std::make_unique<SocketSMCUserClient>(*socket));
        bridge.open();
        HardwareModel::Sources sources;
        sources.smcSocketPath = *socket;
        printProbe(bridge, "Simulated Mac " + HardwareModel::identifier(sources) + " at " + *socket, out);
        return 0;
    }
    if (!arguments.option("--profile")) {
        // The machine the app and the helper would use.
        const auto machine = SMCMachine::fromEnvironment();
        if (machine.kind() == SMCMachine::Kind::missingDriver) {
            out << machine.description() << "\n";
            return failure;
        }
        IOKitSMCBridge bridge(machine.makeUserClient());
        bridge.open();
        printProbe(bridge, machine.modelIdentifier() + " through " + machine.description(), out);
        if (machine.kind() == SMCMachine::Kind::hwmon) {
            printHwmonKeys(machine, out);
        }
        return 0;
    }
    const auto profile = profileNamed(*arguments.option("--profile"));
    SimulatedAppleSMC firmware(profile, SteadyClock::shared());
    IOKitSMCBridge bridge(firmware.makeUserClient(false));
    bridge.open();
    printProbe(bridge, "Simulated Mac " + profile.modelIdentifier + ": " + profile.description, out);
    return 0;
}

int serve(Arguments arguments, std::ostream& out) {
    const auto profile = profileNamed(arguments.option("--profile").value_or("Mac15,11"));
    const double speed = speedFactor(arguments.option("--speed").value_or("1"));
    const std::uint64_t seed = seedValue(arguments.option("--seed").value_or("1"));
    auto workload = workloadNamed(arguments.option("--workload").value_or("idle"));
    const std::string socket = arguments.option("--socket").value_or(SMCSocketProtocol::socketPath());
    const auto hwmon = arguments.option("--hwmon");
    SimulatedHwmonDevice::Options deviceOptions;
    const auto keys = arguments.option("--dt-keys").value_or("mainline");
    const auto layout = arguments.option("--dt-layout").value_or("flat");
    if ((keys != "mainline" && keys != "extended") || (layout != "flat" && layout != "grouped")) {
        throw UsageError("--dt-keys takes mainline or extended, --dt-layout flat or grouped");
    }
    deviceOptions.keys = keys == "extended" ? SimulatedHwmonDevice::Options::Keys::extended
                                            : SimulatedHwmonDevice::Options::Keys::mainline;
    deviceOptions.layout = layout == "grouped" ? SimulatedHwmonDevice::Options::Layout::grouped
                                               : SimulatedHwmonDevice::Options::Layout::flat;
    deviceOptions.fanControl = arguments.flag("--fan-control");
    rejectExtra(arguments.rest(), 0);

    ScaledClock clock(speed);
    SimulatedMac mac(profile, clock, seed);
    const std::string workloadName = workload.name();
    mac.setWorkload(std::move(workload));

    asio::io_context io;
    SimulatorServer::Options options;
    options.socketPath = socket;
    // About a simulated second per tick at most, so the system's fan curve keeps up at high speeds.
    options.tickPeriod = std::chrono::milliseconds(std::clamp(static_cast<int>(1000.0 / speed), 5, 100));
    std::unique_ptr<SimulatedHwmonDevice> device;
    std::optional<asio::posix::stream_descriptor> writes;
    std::function<void()> awaitWrites;
    if (hwmon) {
        device = std::make_unique<SimulatedHwmonDevice>(mac, *hwmon, deviceOptions);
        options.onTick = [&device] {
            device->refresh();
        };
        options.onHwmonReload = [&device] {
            device->reload();
        };
        // A fan target is taken as soon as it is written, as the driver takes it within the write.
        writes.emplace(io, ::dup(device->writeNotifier()));
        awaitWrites = [&] {
            writes->async_wait(asio::posix::stream_descriptor::wait_read, [&](const asio::error_code& error) {
                if (!error) {
                    mac.advanceToNow();
                    device->refresh();
                    awaitWrites();
                }
            });
        };
        awaitWrites();
    }
    SimulatorServer server(io, mac, options);
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const asio::error_code& error, int) {
        if (!error) {
            server.stop();
            if (writes) {
                writes->close();
            }
        }
    });
    server.start();
    out << "quorvane-sim: serving " << profile.name << " at " << socket << " (speed " << speed
        << "x, workload " << workloadName << ", seed " << seed << ")" << std::endl;
    if (device) {
        out << "quorvane-sim: macsmc_hwmon device in " << *hwmon << " (" << SMCMachine::hwmonRootVariable
            << "=" << device->hwmonRoot().string() << " " << SMCMachine::deviceTreeVariable << "="
            << device->deviceTree().string() << ")" << std::endl;
    }
    io.run();
    out << "quorvane-sim: stopped" << std::endl;
    return 0;
}

int control(const Arguments& arguments, std::ostream& out) {
    const auto& words = arguments.rest();
    if (words.empty()) {
        throw UsageError("ctl needs a command: status, workload, fault, clear or hwmon reload");
    }
    SimulatorControlClient client(arguments.option("--socket").value_or(SMCSocketProtocol::socketPath()));
    const auto& command = words[0];
    if (command == "status") {
        const bool json = words.size() == 2 && words[1] == "--json";
        rejectExtra(words, json ? 2 : 1);
        if (json) {
            out << client.statusJSON().dump(2) << "\n";
        } else {
            out << client.status().text();
        }
        return 0;
    }
    if (command == "workload") {
        if (words.size() != 2) {
            throw UsageError("ctl workload needs one workload name or timeline file");
        }
        workloadNamed(words[1]);
        const auto status = client.setWorkload(words[1]);
        out << "Workload: " << status.workload << "\n";
        return 0;
    }
    if (command == "fault") {
        SimulatedFault fault;
        try {
            fault = SimulatedFault::parse({words.begin() + 1, words.end()});
        } catch (const SimulatorError& error) {
            throw UsageError(error.what());
        }
        client.injectFault(fault);
        out << "Fault: " << fault.description() << "\n";
        return 0;
    }
    if (command == "hwmon") {
        if (words.size() != 2 || words[1] != "reload") {
            throw UsageError("ctl hwmon takes reload");
        }
        client.reloadHwmon();
        out << "macsmc_hwmon reloaded: every fan's manual flag is clear\n";
        return 0;
    }
    if (command == "clear") {
        rejectExtra(words, 1);
        client.clearFaults();
        out << "Faults cleared\n";
        return 0;
    }
    throw UsageError("unknown ctl command \"" + command + "\"");
}

} // namespace

std::string SimulatorCommandLine::usage() {
    return "usage: quorvane-sim profiles\n"
           "       quorvane-sim probe [--profile NAME | --socket PATH]\n"
           "       quorvane-sim serve [--profile NAME] [--socket PATH] [--speed X] [--seed N] [--workload "
           "NAME|FILE]\n"
           "                          [--hwmon DIR [--dt-keys mainline|extended] [--dt-layout flat|grouped] "
           "[--fan-control]]\n"
           "       quorvane-sim ctl [--socket PATH] status [--json]\n"
           "       quorvane-sim ctl [--socket PATH] workload NAME|FILE\n"
           "       quorvane-sim ctl [--socket PATH] fault KIND ARGUMENTS...\n"
           "       quorvane-sim ctl [--socket PATH] clear\n"
           "       quorvane-sim ctl [--socket PATH] hwmon reload\n"
           "The socket defaults to " +
           std::string(SMCSocketProtocol::defaultSocketPath) + ", or " +
           SMCSocketProtocol::socketPathVariable +
           " when set. probe without options reads the machine the app would: that socket when set, else a\n"
           "macsmc_hwmon device (" +
           std::string(SMCMachine::hwmonRootVariable) + ", " + SMCMachine::deviceTreeVariable +
           " relocate /sys/class/hwmon and /proc/device-tree), else the "
           "default socket.\nserve --hwmon DIR also keeps DIR laid out as such a device, listing what real "
           "device trees "
           "list\n(--dt-keys extended adds the die and GPU keys of a patched tree; --dt-layout grouped is an "
           "older "
           "driver's\ntree, parameter melt_my_mac) and taking fan targets only with "
           "--fan-control.\nWorkloads: idle, "
           "light, steady, gpu-heavy, bursty, runaway, or a timeline file "
           "(.json).\n" +
           SimulatedFault::usage() + "\n";
}

int SimulatorCommandLine::run(const std::vector<std::string>& arguments, std::ostream& out,
                              std::ostream& err) {
    if (arguments.empty()) {
        err << usage();
        return misuse;
    }
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    const auto& command = arguments[0];
    try {
        if (command == "profiles") {
            rejectExtra(rest, 0);
            return listProfiles(out);
        }
        if (command == "probe") {
            return probe(Arguments(rest, {"--profile", "--socket"}), out);
        }
        if (command == "serve") {
            return serve(Arguments(rest, {"--profile", "--socket", "--speed", "--seed", "--workload",
                                          "--hwmon", "--dt-keys", "--dt-layout"}),
                         out);
        }
        if (command == "ctl") {
            return control(Arguments(rest, {"--socket"}), out);
        }
        if (command == "help" || command == "--help") {
            out << usage();
            return 0;
        }
        throw UsageError("unknown command \"" + command + "\"");
    } catch (const UsageError& error) {
        err << "quorvane-sim: " << error.what() << "\n";
        return misuse;
    } catch (const SimulatorError& error) {
        err << "quorvane-sim: " << error.what() << "\n";
        return failure;
    } catch (const SocketError& error) {
        err << "quorvane-sim: " << error.what() << "\n";
        return failure;
    } catch (const SMCError& error) {
        err << "quorvane-sim: " << error.what() << "\n";
        return failure;
    }
}

} // namespace quorvane
