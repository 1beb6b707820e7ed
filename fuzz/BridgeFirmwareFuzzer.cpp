// The SMC bridge and what reads through it, against a hostile firmware: a user client whose every
// answer comes from the fuzzer. Each structure call takes a verdict byte (0 or anything above 2: a
// full record; 1: a failing kernel code; 2: a record of the size in the next byte) and the fields
// the firmware fills: key, data size, data type, attributes, result byte and 32 value bytes. Calls
// after the input runs out find the service gone. The seeds are transcripts of simulated machines
// answering this same sequence.
//
// Whatever the firmware says, every failure is an SMCError, temperatures are finite, speeds are
// whole non-negative numbers and a fan's reported bounds are ordered.
#include "Helpers/Clock.hpp"
#include "Helpers/Logger.hpp"
#include "Helpers/SensorReader.hpp"
#include "SMC/FanController.hpp"
#include "SMC/IOKitReturn.hpp"
#include "SMC/IOKitSMCBridge.hpp"

#include <cmath>
#include <cstdlib>

using namespace quorvane;

namespace {

struct Silent final : LogSink {
    void write(const LogRecord&) override {}
};

class HostileUserClient final : public SMCUserClient {
public:
    explicit HostileUserClient(std::span<const std::uint8_t> answers) : answers_(answers) {}

    bool serviceExists() override { return true; }
    std::uint32_t open() override { return IOKitReturn::success; }
    void close() override {}
    std::uint32_t callStructMethod(std::uint32_t, const SMCParamStruct&, SMCParamStruct& output,
                                   std::size_t& outputSize) override {
        if (answers_.empty()) {
            return IOKitReturn::notResponding;
        }
        const std::uint8_t verdict = take();
        if (verdict == 1) {
            return IOKitReturn::error;
        }
        outputSize = verdict == 2 ? take() : SMCParamStruct::size;
        output = SMCParamStruct();
        const auto field = [&](std::size_t offset, std::size_t length) {
            for (std::size_t i = 0; i < length; ++i) {
                output.raw[offset + i] = take();
            }
        };
        field(SMCParamStruct::keyOffset, 4);
        field(SMCParamStruct::dataSizeOffset, 4);
        field(SMCParamStruct::dataTypeOffset, 4);
        field(SMCParamStruct::dataAttributesOffset, 1);
        field(SMCParamStruct::resultOffset, 1);
        field(SMCParamStruct::bytesOffset, SMCParamStruct::maxValueSize);
        return IOKitReturn::success;
    }

private:
    std::uint8_t take() {
        if (answers_.empty()) {
            return 0;
        }
        const std::uint8_t byte = answers_.front();
        answers_ = answers_.subspan(1);
        return byte;
    }
    std::span<const std::uint8_t> answers_;
};

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool plausible(double celsius) {
    return std::isfinite(celsius);
}

template <typename Step> void attempt(Step&& step) {
    try {
        step();
    } catch (const SMCError&) {
        // What a hostile firmware may cause; anything else escapes and fails the run.
    }
}

} // namespace

// The sequence of the helper and the app: probe, read every fan and every temperature, count the
// keys, then write a fan's mode (read back) and its target (not read back).
void exercise(std::unique_ptr<SMCUserClient> client) {
    VirtualClock clock;
    auto bridge = std::make_shared<IOKitSMCBridge>(std::move(client), SMCWriteCapability::privilegedHelper,
                                                   [](const SMCWriteAuditEvent&) {});
    attempt([&] { bridge->open(); });
    FanController controller(bridge, clock);
    std::vector<int> fans;
    attempt([&] { fans = controller.probeCapabilities().fanIndices(); });
    for (int index : fans) {
        attempt([&] {
            const FanInfo info = controller.getFanInfo(index);
            require(info.actualRPM >= 0 && info.minRPM >= 1 && info.maxRPM >= info.minRPM);
        });
    }
    SensorReader reader(*bridge);
    attempt([&] {
        const CPUCoreAverage average = reader.readCPUCoreAverage();
        require(plausible(average.temperature) && plausible(average.controlTemperature()));
    });
    attempt([&] {
        for (const auto& reading : reader.readAllTemperatures()) {
            require(plausible(reading.value));
        }
    });
    attempt([&] { bridge->getKeyCount(); });
    // One write of each kind, without the controller's latch waits, which would only repeat them.
    attempt([&] { bridge->writeKey(SMCKey::fan(0, "Md"), SMCValue::uint8(1)); });
    attempt([&] { bridge->writeKeyUnverified(SMCKey::fan(0, "Tg"), SMCValue::float32(2000)); });
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto silenced = Logger::setSink(std::make_shared<Silent>());
    exercise(std::make_unique<HostileUserClient>(std::span(data, size)));
    return 0;
}
