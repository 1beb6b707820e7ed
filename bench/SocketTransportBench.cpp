// The floor under a poll: the client's CPU time for one SMC record exchange over the simulated Mac's
// socket (the server's own time is not counted, as it is not in the app's figures either). Needs a
// running `quorvane-sim serve` at QUORVANE_SMC_SOCKET (or the default path).
#include "BenchMain.hpp"
#include "Platform/SocketSMCUserClient.hpp"
#include "SMC/IOKitReturn.hpp"
#include "SMC/SMCKey.hpp"
#include "SMC/SMCParamStruct.hpp"

#include <benchmark/benchmark.h>

using namespace quorvane;

namespace {

void exchange(benchmark::State& state, SMCParamStruct::Command command) {
    SocketSMCUserClient client;
    if (client.open() != IOKitReturn::success) {
        state.SkipWithError("no simulated Mac answers at the socket");
        return;
    }
    SMCParamStruct input;
    input.setKey(SMCKey::fromString("TCMz").rawValue);
    input.setCommand(command);
    input.setDataSize(4);
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

} // namespace

int main(int argc, char** argv) {
    return quorvane::bench::run(argc, argv);
}
