// The helper's request parser and what stands behind it: one client connection's messages, one per
// line, parsed as the daemon parses a frame's payload and served by a HelperService over the
// control engine on a simulated Mac15,11. A message the parser refuses closes the connection, as in
// the daemon. Two lines are not messages: "tick" lets two seconds pass and the lease watchdog run,
// "mbpfan" starts or stops a competing fan daemon.
//
// The machine and the engine live across inputs (building them per input would cost more than the
// input); every input ends as a connection does, with its session ended and the fans reset.
#include "Helpers/Logger.hpp"
#include "PrivilegedHelper/HelperControlEngine.hpp"
#include "PrivilegedHelper/HelperService.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Support/FakeProcessTable.hpp"
#include "Support/ManualEngineScheduler.hpp"
#include "XPC/HelperMessage.hpp"
#include "XPC/HelperProtocolError.hpp"

#include <filesystem>
#include <string_view>
#include <unistd.h>

using namespace quorvane;

namespace {

struct Silent final : LogSink {
    void write(const LogRecord&) override {}
};

// Mac15,11 with latches of a few polls rather than seconds: the waits still run, in fewer rounds.
SMCProfile quickProfile() {
    SMCProfile profile = *SMCProfiles::named("Mac15,11");
    profile.fanTimings.ftstLatchMilliseconds = 200;
    profile.fanTimings.modeUnlockMilliseconds = 200;
    profile.fanTimings.modeApplyMilliseconds = 100;
    profile.fanTimings.releaseMilliseconds = 200;
    return profile;
}

struct Helper {
    Helper() : firmware(quickProfile(), clock) {
        Logger::setSink(std::make_shared<Silent>());
        // The lock file is written on every session: in memory where /dev/shm exists.
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        directory = base / ("helper-request-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        HelperEnginePaths paths;
        paths.controlLock = directory / "fan-control.lock";
        paths.controlLockOwnerUID = std::nullopt;
        paths.capabilityMarker = directory / "helper-capability-v1";
        engine = std::make_unique<HelperControlEngine>(firmware.makeUserClient(), clock, processes, scheduler,
                                                       paths);
    }
    ~Helper() {
        engine.reset();
        std::filesystem::remove_all(directory);
    }

    VirtualClock clock{1'000'000};
    SimulatedAppleSMC firmware;
    testing::FakeProcessTable processes;
    testing::ManualEngineScheduler scheduler;
    std::filesystem::path directory;
    std::unique_ptr<HelperControlEngine> engine;
};

// Serves one line; false when the connection closes.
bool serve(Helper& helper, HelperService& service, std::string_view line) {
    if (line == "tick") {
        helper.clock.advance(HelperControlEngine::watchdogPeriodMilliseconds);
        helper.scheduler.tick();
        helper.scheduler.runPending();
        return true;
    }
    if (line == "mbpfan") {
        if (helper.processes.processes.empty()) {
            helper.processes.processes.push_back({4242, std::string("/usr/sbin/mbpfan")});
        } else {
            helper.processes.processes.clear();
        }
        return true;
    }
    try {
        const auto payload = std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
        const auto request = HelperRequest::fromJSON(decodeHelperMessage(payload));
        const auto reply = encodeHelperMessage(service.handle(request).toJSON());
        helper.scheduler.runPending();
        return !reply.empty();
    } catch (const HelperProtocolError&) {
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Helper helper;
    HelperService service(*helper.engine);
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const auto line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!serve(helper, service, line)) {
            break;
        }
    }
    service.connectionInvalidated();
    helper.scheduler.runPending();
    helper.processes.processes.clear();
    return 0;
}
