// One SMC key over the simulated Mac's socket against the same key in process: time per user-client
// exchange and per bridge read (key info plus read), and how many times slower the socket is.
#include "BenchMain.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/SocketSMCUserClient.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/ScaledClock.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Simulator/SimulatedMac.hpp"
#include "Simulator/SimulatorServer.hpp"

#include <asio/post.hpp>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

using namespace quorvane;

namespace {

const SMCKey hotspot = SMCKey::fromString("TCMz");

SMCParamStruct keyInfoRecord() {
    SMCParamStruct input;
    input.setKey(hotspot.rawValue);
    input.setCommand(SMCParamStruct::keyInfo);
    return input;
}

// The machine a socket client reaches: served from its own thread at normal speed.
struct ServedMachine {
    ServedMachine()
        : path(std::filesystem::temp_directory_path() /
               ("quorvane-bench-" + std::to_string(::getpid()) + ".sock")),
          clock(1.0), mac(SMCProfiles::mac15_11(), clock), server(io, mac, options(path)) {
        server.start();
        thread = std::thread([this] { io.run(); });
    }
    ~ServedMachine() {
        asio::post(io, [this] { server.stop(); });
        thread.join();
    }
    static SimulatorServer::Options options(const std::filesystem::path& path) {
        SimulatorServer::Options options;
        options.socketPath = path.string();
        return options;
    }

    std::filesystem::path path;
    ScaledClock clock;
    SimulatedMac mac;
    asio::io_context io;
    SimulatorServer server;
    std::thread thread;
};

ServedMachine& served() {
    static ServedMachine machine;
    return machine;
}

void exchangeLoop(benchmark::State& state, SMCUserClient& client) {
    const auto input = keyInfoRecord();
    client.open();
    for (auto _ : state) {
        SMCParamStruct output;
        std::size_t size = SMCParamStruct::size;
        benchmark::DoNotOptimize(client.callStructMethod(SMCUserClient::smcSelector, input, output, size));
    }
}

void BM_ExchangeInProcessFirmware(benchmark::State& state) {
    ScaledClock clock(1.0);
    SimulatedAppleSMC firmware(SMCProfiles::mac15_11(), clock);
    auto client = firmware.makeUserClient(false);
    exchangeLoop(state, *client);
}
BENCHMARK(BM_ExchangeInProcessFirmware);

void BM_ExchangeInProcessSharedMachine(benchmark::State& state) {
    auto client = served().mac.makeUserClient(false);
    exchangeLoop(state, *client);
}
BENCHMARK(BM_ExchangeInProcessSharedMachine);

void BM_ExchangeOverSocket(benchmark::State& state) {
    SocketSMCUserClient client(served().path.string());
    exchangeLoop(state, client);
}
BENCHMARK(BM_ExchangeOverSocket);

void readLoop(benchmark::State& state, std::unique_ptr<SMCUserClient> client) {
    IOKitSMCBridge bridge(std::move(client));
    bridge.open();
    for (auto _ : state) {
        benchmark::DoNotOptimize(bridge.readTemperature(hotspot));
    }
}

void BM_ReadKeyInProcessFirmware(benchmark::State& state) {
    ScaledClock clock(1.0);
    SimulatedAppleSMC firmware(SMCProfiles::mac15_11(), clock);
    readLoop(state, firmware.makeUserClient(false));
}
BENCHMARK(BM_ReadKeyInProcessFirmware);

void BM_ReadKeyOverSocket(benchmark::State& state) {
    readLoop(state, std::make_unique<SocketSMCUserClient>(served().path.string()));
}
BENCHMARK(BM_ReadKeyOverSocket);

// The console report plus the socket's cost as a multiple of the in-process one.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                nanoseconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ratio("one exchange", "BM_ExchangeOverSocket", "BM_ExchangeInProcessFirmware");
        ratio("one exchange, shared machine", "BM_ExchangeOverSocket", "BM_ExchangeInProcessSharedMachine");
        ratio("one key read (2 exchanges)", "BM_ReadKeyOverSocket", "BM_ReadKeyInProcessFirmware");
        ConsoleReporter::Finalize();
    }

private:
    void ratio(const char* what, const std::string& socket, const std::string& inProcess) {
        if (nanoseconds_.contains(socket) && nanoseconds_.contains(inProcess) &&
            nanoseconds_[inProcess] > 0) {
            std::printf("socket / in process, %s: %.1fx (%.0f ns against %.0f ns)\n", what,
                        nanoseconds_[socket] / nanoseconds_[inProcess], nanoseconds_[socket],
                        nanoseconds_[inProcess]);
        }
    }

    std::map<std::string, double> nanoseconds_;
};

} // namespace

int main(int argc, char** argv) {
    Logger::setSink(std::make_shared<quorvane::bench::DiscardingSink>());
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
