#pragma once

#include "PrivilegedHelper/HelperControlEngine.hpp"
#include "PrivilegedHelper/HelperError.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Support/FakeProcessTable.hpp"
#include "Support/LogCapture.hpp"
#include "Support/ManualEngineScheduler.hpp"
#include "Support/MessageOf.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace quorvane::testing {

// A helper engine over a simulated machine on a virtual clock, with its files in a temporary folder.
class EngineFixture : public ::testing::Test {
protected:
    explicit EngineFixture(const char* profile = "Mac15,11") : firmware(*SMCProfiles::named(profile), clock) {
        directory = folder.path();
        paths.controlLock = directory / "fan-control.lock";
        paths.controlLockOwnerUID = std::nullopt;
        paths.capabilityMarker = directory / "Orvalith" / "helper-capability-v1";
    }
    ~EngineFixture() override { engine.reset(); }

    HelperControlEngine& start() {
        engine = std::make_unique<HelperControlEngine>(firmware.makeUserClient(), clock, processes, scheduler,
                                                       paths);
        return *engine;
    }
    // A machine on which the supervised test already passed.
    HelperControlEngine& startVerified() {
        std::filesystem::create_directories(paths.capabilityMarker.parent_path());
        std::ofstream(paths.capabilityMarker) << "protocol=1\n";
        return start();
    }

    // What a crashed helper leaves behind: the unlock latched and fan 0 in manual.
    void crashLeavingFanZeroManual() {
        IOKitSMCBridge crashed(firmware.makeUserClient(), SMCWriteCapability::privilegedHelper);
        crashed.open();
        crashed.writeKeyUnverified(SMCKey::fanTestMode, SMCValue::uint8(1));
        clock.advance(6000);
        crashed.writeKeyUnverified(SMCKey::fromString("F0Md"), SMCValue::uint8(1));
        clock.advance(1000);
    }
    std::uint8_t byte(const char* key) { return firmware.valueBytes(SMCKey::fromString(key))->front(); }
    void setByte(const char* key, std::uint8_t value) {
        firmware.setValueBytes(SMCKey::fromString(key), {value});
    }
    void competitorAppears() { processes.processes.push_back({4242, std::string("/usr/sbin/mbpfan")}); }

    TemporaryDirectory folder;
    LogCapture logs;
    VirtualClock clock;
    SimulatedAppleSMC firmware;
    FakeProcessTable processes;
    ManualEngineScheduler scheduler;
    HelperEnginePaths paths;
    std::filesystem::path directory;
    std::unique_ptr<HelperControlEngine> engine;
};

} // namespace quorvane::testing
