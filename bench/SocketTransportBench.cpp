// The floor under a poll: the client's CPU time for one SMC record exchange over the simulated Mac's
// socket (the server's own time is not counted, as it is not in the app's figures either). Needs a
// running `quorvane-sim serve` at QUORVANE_SMC_SOCKET (or the default path).
#include "BenchMain.hpp"
#include "Platform/SocketSMCUserClient.hpp"
#include "SMC/IOKitReturn.hpp"
#include "SMC/SMCKey.hpp"
#include "SMC/SMCParamStruct.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>

using namespace quorvane;

namespace {

bool opened(benchmark::State& state, SocketSMCUserClient& client) {
    if (client.open() == IOKitReturn::success) {
        return true;
    }
    state.SkipWithError("no simulated Mac answers at the socket");
    return false;
}

SMCParamStruct request(SMCParamStruct::Command command) {
    SMCParamStruct input;
    input.setKey(SMCKey::fromString("TCMz").rawValue);
    input.setCommand(command);
    input.setDataSize(4);
    return input;
}

void exchange(benchmark::State& state, SMCParamStruct::Command command) {
    SocketSMCUserClient client;
    if (!opened(state, client)) {
        return;
    }
    const SMCParamStruct input = request(command);
    SMCParamStruct output;
    for (auto _ : state) {
        std::size_t outputSize = SMCParamStruct::size;
        benchmark::DoNotOptimize(
            client.callStructMethod(SMCUserClient::smcSelector, input, output, outputSize));
        benchmark::DoNotOptimize(output);
    }
    client.close();
}

void BM_SocketKeyInfoExchange(benchmark::State& state) {
    exchange(state, SMCParamStruct::keyInfo);
}
BENCHMARK(BM_SocketKeyInfoExchange);

void BM_SocketReadExchange(benchmark::State& state) {
    exchange(state, SMCParamStruct::readBytes);
}
BENCHMARK(BM_SocketReadExchange);

// The same reads in the app's rhythm: a poll's worth of exchanges, then the rest of the 2-second
// interval idle, so caches and the scheduler see what they see under the app. Time per iteration
// is one poll's burst; `exchangesPerBurst` divides it.
void BM_SocketReadExchangeInPollBursts(benchmark::State& state) {
    SocketSMCUserClient client;
    if (!opened(state, client)) {
        return;
    }
    const SMCParamStruct input = request(SMCParamStruct::readBytes);
    SMCParamStruct output;
    const auto burst = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        state.ResumeTiming();
        for (std::int64_t exchange = 0; exchange < burst; ++exchange) {
            std::size_t outputSize = SMCParamStruct::size;
            benchmark::DoNotOptimize(
                client.callStructMethod(SMCUserClient::smcSelector, input, output, outputSize));
        }
    }
    state.counters["exchangesPerBurst"] = static_cast<double>(burst);
    client.close();
}
BENCHMARK(BM_SocketReadExchangeInPollBursts)->Arg(824)->Iterations(6);

} // namespace

int main(int argc, char** argv) {
    return quorvane::bench::run(argc, argv);
}
