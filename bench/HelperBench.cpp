// The helper's costs: one status round trip over its socket (the peer checked again on every frame),
// and one watchdog tick's process scan.
#include "BenchMain.hpp"
#include "Helpers/CompetingFanControllerDetector.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/FramedSocketClient.hpp"
#include "Platform/PeerProcess.hpp"
#include "Platform/ProcFSProcessTable.hpp"
#include "PrivilegedHelper/HelperDaemon.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "XPC/HelperMessage.hpp"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <thread>
#include <unistd.h>

using namespace quorvane;

namespace {

namespace fs = std::filesystem;

void BM_StatusRoundTrip(benchmark::State& state) {
    const fs::path directory = fs::temp_directory_path() / ("helper-bench-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    SimulatedAppleSMC firmware(*SMCProfiles::named("Mac15,11"), SteadyClock::shared());
    HelperDaemonOptions options;
    options.socketPath = (directory / "helper.sock").string();
    options.enginePaths.controlLock = directory / "lock";
    options.enginePaths.controlLockOwnerUID = std::nullopt;
    options.enginePaths.capabilityMarker = directory / "marker";
    options.makeSMCTransport = [&] {
        return firmware.makeUserClient();
    };
    options.isAuthorizedClient = [](const PeerProcess&) {
        return true;
    };
    HelperDaemon daemon(std::move(options));
    std::thread server([&] { daemon.run(); });

    FramedSocketClient client((directory / "helper.sock").string(), std::chrono::seconds(10),
                              maxHelperMessageSize);
    client.connect();
    const auto request =
        encodeHelperMessage(HelperRequest{1, HelperSelector::status, "", 0, false, 0}.toJSON());
    for (auto _ : state) {
        auto reply = client.request(request);
        if (!reply) {
            state.SkipWithError("the helper did not answer");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
    daemon.stop();
    server.join();
    fs::remove_all(directory);
}
BENCHMARK(BM_StatusRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_WatchdogProcessScan(benchmark::State& state) {
    ProcFSProcessTable processes;
    std::size_t count = processes.processIdentifiers().size();
    for (auto _ : state) {
        benchmark::DoNotOptimize(CompetingFanControllerDetector::runningControllerDetails(processes));
    }
    state.counters["processes"] = static_cast<double>(count);
}
BENCHMARK(BM_WatchdogProcessScan)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return quorvane::bench::run(argc, argv);
}
