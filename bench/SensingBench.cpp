// Cost of one poll's thermal sensing over the in-process simulated Mac15,11: the composite and the
// flat sensor list (time and user-client exchanges per call), and the filter fold the app model runs
// on every sample.
#include "BenchMain.hpp"
#include "Helpers/Clock.hpp"
#include "Helpers/CriticalThermalOverride.hpp"
#include "Helpers/FanZoneThermalFilter.hpp"
#include "Helpers/Logger.hpp"
#include "Helpers/SensorReader.hpp"
#include "Helpers/SustainedDieHeatFilter.hpp"
#include "Helpers/TemperatureDisplayPipeline.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>
#include <vector>

using namespace quorvane;

namespace {

struct Machine {
    VirtualClock clock;
    SimulatedAppleSMC firmware{*SMCProfiles::named("Mac15,11"), clock};
    std::shared_ptr<IOKitSMCBridge> bridge = std::make_shared<IOKitSMCBridge>(firmware.makeUserClient(false));
    SensorReader reader{*bridge};
    Machine() { bridge->open(); }
};

void reportExchanges(benchmark::State& state, const Machine& machine, std::uint64_t before) {
    state.counters["exchanges/call"] = static_cast<double>(machine.firmware.exchangeCount() - before) /
                                       static_cast<double>(state.iterations());
}

// A fresh reader's first composite: discovery over every key, then the read that pins the channels.
void BM_FirstCompositeWithDiscovery(benchmark::State& state) {
    Machine machine;
    const auto before = machine.firmware.exchangeCount();
    for (auto _ : state) {
        SensorReader reader(*machine.bridge);
        benchmark::DoNotOptimize(reader.readCPUCoreAverage());
    }
    reportExchanges(state, machine, before);
}
BENCHMARK(BM_FirstCompositeWithDiscovery)->Unit(benchmark::kMillisecond);

void BM_ReadCPUCoreAverage(benchmark::State& state) {
    Machine machine;
    machine.reader.readCPUCoreAverage();
    const auto before = machine.firmware.exchangeCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(machine.reader.readCPUCoreAverage());
    }
    reportExchanges(state, machine, before);
}
BENCHMARK(BM_ReadCPUCoreAverage)->Unit(benchmark::kMicrosecond);

void BM_ReadAllTemperatures(benchmark::State& state) {
    Machine machine;
    machine.reader.readAllTemperatures();
    const auto before = machine.firmware.exchangeCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(machine.reader.readAllTemperatures());
    }
    reportExchanges(state, machine, before);
}
BENCHMARK(BM_ReadAllTemperatures)->Unit(benchmark::kMicrosecond);

// The model's fold of one composite, two seconds apart: display pipeline, critical override,
// sustained die filter and one zone filter per fan, created on first use.
void BM_FilterFoldPerSample(benchmark::State& state) {
    Machine machine;
    const CPUCoreAverage base = machine.reader.readCPUCoreAverage();
    // A sawtooth of load so rises, holds, drops and the override's latch all get exercised.
    std::vector<CPUCoreAverage> samples;
    for (int i = 0; i < 64; ++i) {
        CPUCoreAverage sample = base;
        const double offset = 2.0 * (i % 32) - (i >= 32 ? 10.0 : 0.0);
        sample.cpuMaximumTemperature += offset;
        sample.hotspotTemperature = *base.hotspotTemperature + offset;
        for (auto& zone : sample.fanZoneReadings) {
            zone.temperature += offset;
        }
        samples.push_back(std::move(sample));
    }

    TemperatureDisplayPipeline display;
    CriticalThermalOverride override;
    SustainedDieHeatFilter sustainedDie(1.0, 0.1, 2);
    std::map<int, FanZoneThermalFilter> zoneFilters;
    double now = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        const CPUCoreAverage& sample = samples[next];
        next = (next + 1) % samples.size();
        now += 2.0;

        const double hottest = sample.thermalDisplayTemperature();
        benchmark::DoNotOptimize(display.update(hottest));
        benchmark::DoNotOptimize(override.update(hottest, now));
        if (sample.hotspotTemperature || sample.gpuHotspotTemperature) {
            benchmark::DoNotOptimize(
                sustainedDie.update(std::max(sample.hotspotTemperature.value_or(-1000.0),
                                             sample.gpuHotspotTemperature.value_or(-1000.0))));
        } else {
            benchmark::DoNotOptimize(sustainedDie.noteMissingSample());
        }
        for (const auto& zone : sample.fanZoneReadings) {
            auto filter =
                zoneFilters.try_emplace(zone.fanIndex, std::nullopt, 0.45, 0.18, 0.35, 1.0, 8.0).first;
            benchmark::DoNotOptimize(filter->second.update(zone.temperature, now));
        }
    }
}
BENCHMARK(BM_FilterFoldPerSample);

} // namespace

int main(int argc, char** argv) {
    return quorvane::bench::run(argc, argv);
}
