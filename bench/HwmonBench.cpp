// Cost of the SMC through a macsmc_hwmon device, on the simulated Mac15,11's device in a temporary
// folder: one channel file, one temperature read, one whole app poll (fans, composite, every channel)
// and one refresh of the device by `quorvane-sim serve --hwmon`.
#include "BenchMain.hpp"
#include "Client/TelemetryPoller.hpp"
#include "Helpers/Clock.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/HwmonSMCUserClient.hpp"
#include "Platform/LocalDaemonRegistration.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedHwmonDevice.hpp"
#include "Simulator/SimulatedMac.hpp"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

using namespace quorvane;

namespace {

struct Device {
    Device() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-bench-XXXXXX").string();
        directory = ::mkdtemp(pattern.data());
        device = std::make_unique<SimulatedHwmonDevice>(mac, directory);
    }
    ~Device() {
        device.reset();
        std::filesystem::remove_all(directory);
    }
    std::filesystem::path hwmon() const { return device->hwmonRoot() / "hwmon0"; }

    VirtualClock clock;
    SimulatedMac mac{SMCProfiles::mac15_11(), clock};
    std::filesystem::path directory;
    std::unique_ptr<SimulatedHwmonDevice> device;
};

// Runs work at once, as the poll queue would.
struct InlineExecutor final : Executor {
    void post(std::function<void()> work) override { work(); }
};

void BM_ReadTemperatureThroughHwmon(benchmark::State& state) {
    Device machine;
    IOKitSMCBridge bridge(std::make_unique<HwmonSMCUserClient>(machine.hwmon()));
    bridge.open();
    for (auto _ : state) {
        benchmark::DoNotOptimize(bridge.readTemperature(SMCKey::fromString("TW0P")));
    }
}
BENCHMARK(BM_ReadTemperatureThroughHwmon);

// What one channel costs the app at the least: open, read and close its file. measure-headless --hwmon
// multiplies it by the app's reads per poll for the floor a poll cannot go below.
void BM_ChannelFileRead(benchmark::State& state) {
    Device machine;
    const auto file = machine.hwmon() / "temp1_input";
    char buffer[64];
    for (auto _ : state) {
        FileDescriptor descriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        benchmark::DoNotOptimize(::read(descriptor.get(), buffer, sizeof buffer));
    }
}
BENCHMARK(BM_ChannelFileRead);

void BM_PollThroughHwmon(benchmark::State& state) {
    Device machine;
    LocalDaemonRegistration registration(machine.directory / "registration");
    InlineExecutor queue;
    TelemetryPoller poller(std::make_unique<HwmonSMCUserClient>(machine.hwmon()), registration, queue);
    poller.open();
    for (auto _ : state) {
        poller.read([](TelemetryPoller::Result result) { benchmark::DoNotOptimize(result); });
    }
}
BENCHMARK(BM_PollThroughHwmon)->Unit(benchmark::kMicrosecond);

void BM_RefreshSimulatedDevice(benchmark::State& state) {
    Device machine;
    for (auto _ : state) {
        machine.clock.advance(100);
        machine.mac.advanceToNow();
        machine.device->refresh();
    }
}
BENCHMARK(BM_RefreshSimulatedDevice)->Unit(benchmark::kMicrosecond);

// The physics step alone, which every server tick runs with or without the device.
void BM_PhysicsStepAlone(benchmark::State& state) {
    Device machine;
    for (auto _ : state) {
        machine.clock.advance(100);
        machine.mac.advanceToNow();
    }
}
BENCHMARK(BM_PhysicsStepAlone)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return quorvane::bench::run(argc, argv);
}
