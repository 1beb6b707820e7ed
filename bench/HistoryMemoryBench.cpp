// Heap held by a full session history (21,600 samples) with a float series for every sensor the
// simulated Mac15,11 reports, built the way the app model keeps it.
#include "App/HistorySample.hpp"
#include "BenchMain.hpp"
#include "Helpers/Clock.hpp"
#include "Helpers/Logger.hpp"
#include "Helpers/SensorReader.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <map>
#include <new>

namespace {

std::atomic<long long> liveBytes{0};

} // namespace

// Counts every heap byte this program holds; the size travels in a header before the block. These
// are the program's replacement allocation functions, so malloc/free beneath them is intended.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    auto* block = static_cast<std::size_t*>(std::malloc(size + sizeof(std::max_align_t)));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *block = size;
    liveBytes += static_cast<long long>(size);
    return reinterpret_cast<char*>(block) + sizeof(std::max_align_t);
}
void operator delete(void* pointer) noexcept {
    if (pointer != nullptr) {
        auto* block = reinterpret_cast<std::size_t*>(static_cast<char*>(pointer) - sizeof(std::max_align_t));
        liveBytes -= static_cast<long long>(*block);
        std::free(block);
    }
}
void operator delete(void* pointer, std::size_t) noexcept {
    operator delete(pointer);
}

using namespace quorvane;

namespace {

void BM_FullHistory(benchmark::State& state) {
    VirtualClock clock;
    SimulatedAppleSMC firmware(*SMCProfiles::named("Mac15,11"), clock);
    IOKitSMCBridge bridge(firmware.makeUserClient(false));
    bridge.open();
    SensorReader reader(bridge);
    const auto readings = reader.readAllTemperatures();
    constexpr std::size_t samples = 21600;

    for (auto _ : state) {
        const long long before = liveBytes;
        {
            std::vector<HistorySample> history;
            std::map<std::string, std::vector<float>> series;
            for (std::size_t n = 0; n < samples; ++n) {
                history.push_back(
                    HistorySample{std::chrono::system_clock::now(), 60, 55, 50, 58, {2400, 2500}});
                for (const auto& reading : readings) {
                    series[reading.keyName].push_back(static_cast<float>(reading.value));
                }
            }
            state.counters["MiB"] = static_cast<double>(liveBytes - before) / (1024.0 * 1024.0);
            benchmark::DoNotOptimize(history.data());
        }
    }
    state.counters["sensors"] = static_cast<double>(readings.size());
    state.counters["samples"] = samples;
}
BENCHMARK(BM_FullHistory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return quorvane::bench::run(argc, argv);
}
