// The helper's costs: one status round trip over its socket (the peer checked again on every frame),
// one watchdog tick's process scan, and the check of a peer running a copy of the app that was refused
// before.
#include "BenchMain.hpp"
#include "Helpers/CompetingFanControllerDetector.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/ClientRequirement.hpp"
#include "Platform/FramedSocketClient.hpp"
#include "Platform/PeerProcess.hpp"
#include "Platform/ProcFSProcessTable.hpp"
#include "Platform/SHA256.hpp"
#include "PrivilegedHelper/HelperDaemon.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "XPC/HelperMessage.hpp"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
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

// This process plays a patched copy of the app: the pin is this program changed in one byte, so the
// peer's executable has the pinned size and is hashed once; a flood of its connections costs no more.
void BM_RefusedCopyCheck(benchmark::State& state) {
    const fs::path directory = fs::temp_directory_path() / ("helper-bench-pin-" + std::to_string(::getpid()));
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path pinned = directory / self.filename();
    fs::create_directories(directory);
    fs::copy_file(self, pinned, fs::copy_options::overwrite_existing);
    {
        std::fstream file(pinned, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        file.put(static_cast<char>(file.peek() ^ 0x5a));
    }
    int hashes = 0;
    const auto requirement = ClientRequirement::forApp(pinned, [&hashes](const fs::path& path) {
        ++hashes;
        return sha256OfFile(path);
    });
    const auto peer = PeerProcess::ofProcess(::getpid(), ::getuid(), PeerProcess::openPidfd(::getpid()));
    if (!requirement || !peer) {
        state.SkipWithError("no pin or no peer");
        return;
    }
    hashes = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(requirement->admits(*peer));
    }
    state.counters["peer hashes"] = hashes;
    fs::remove_all(directory);
}
BENCHMARK(BM_RefusedCopyCheck)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return quorvane::bench::run(argc, argv);
}
