// Cost of SMC access over the in-process simulated Mac15,11: time and user-client exchanges per call.
#include "BenchMain.hpp"
#include "Helpers/Clock.hpp"
#include "Helpers/Logger.hpp"
#include "SMC/FanController.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"

#include <benchmark/benchmark.h>

using namespace quorvane;

namespace {

struct Machine {
    VirtualClock clock;
    SimulatedAppleSMC firmware{*SMCProfiles::named("Mac15,11"), clock};
    std::shared_ptr<IOKitSMCBridge> bridge = std::make_shared<IOKitSMCBridge>(firmware.makeUserClient(false));
    Machine() { bridge->open(); }
};

void reportExchanges(benchmark::State& state, const Machine& machine, std::uint64_t before) {
    state.counters["exchanges/call"] = static_cast<double>(machine.firmware.exchangeCount() - before) /
                                       static_cast<double>(state.iterations());
}

void BM_ReadTemperatureKey(benchmark::State& state) {
    Machine machine;
    const SMCKey key = SMCKey::fromString("TCMz");
    const auto before = machine.firmware.exchangeCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(machine.bridge->readKey(key));
    }
    reportExchanges(state, machine, before);
}
BENCHMARK(BM_ReadTemperatureKey);

void BM_GetFanInfo(benchmark::State& state) {
    Machine machine;
    FanController controller(machine.bridge, machine.clock);
    controller.probeCapabilities();
    const auto before = machine.firmware.exchangeCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(controller.getFanInfo(0));
    }
    reportExchanges(state, machine, before);
}
BENCHMARK(BM_GetFanInfo);

void BM_ProbeCapabilities(benchmark::State& state) {
    Machine machine;
    const auto before = machine.firmware.exchangeCount();
    for (auto _ : state) {
        FanController controller(machine.bridge, machine.clock);
        benchmark::DoNotOptimize(controller.probeCapabilities());
    }
    reportExchanges(state, machine, before);
}
BENCHMARK(BM_ProbeCapabilities);

} // namespace

int main(int argc, char** argv) {
    return quorvane::bench::run(argc, argv);
}
