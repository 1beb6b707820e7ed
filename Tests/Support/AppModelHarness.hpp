#pragma once

#include "App/AppModel.hpp"
#include "App/TelemetrySource.hpp"
#include "Helpers/InMemoryDefaultsStore.hpp"
#include "Platform/LaunchAtLogin.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/PowerMonitor.hpp"
#include "PrivilegedHelper/HelperControlEngine.hpp"
#include "SMC/SMCKey.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Support/FakeDaemonRegistration.hpp"
#include "Support/FakeProcessTable.hpp"
#include "Support/InProcessHelperTransport.hpp"
#include "Support/LogCapture.hpp"
#include "Support/ManualEngineScheduler.hpp"
#include "Support/ManualExecutor.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane::testing {

// Telemetry the test hands out one read at a time.
class ScriptedTelemetry final : public TelemetrySource {
public:
    struct State {
        std::deque<Completion> reads;
        int readCount = 0;
        int closes = 0;
    };
    explicit ScriptedTelemetry(std::shared_ptr<State> state) : state_(std::move(state)) {}
    void open() override {}
    void close() override { ++state_->closes; }
    void read(Completion completion) override {
        ++state_->readCount;
        state_->reads.push_back(std::move(completion));
    }

private:
    std::shared_ptr<State> state_;
};

struct FakeNotificationCenter final : NotificationCenter {
    bool grant = true;
    std::vector<std::string> bodies;
    void requestAuthorization(std::function<void(bool, std::optional<std::string>)> answer) override {
        answer(grant, std::nullopt);
    }
    void deliver(const std::string&, const std::string&, const std::string& body,
                 std::function<void(std::optional<std::string>)> completion) override {
        bodies.push_back(body);
        completion(std::nullopt);
    }
};

struct FakePowerMonitor final : PowerMonitor {
    std::function<void()> willSleep, didWake;
    bool controlActive = false;
    // Sees each change as it happens.
    std::function<void(bool)> onControlActive;
    void start(std::function<void()> sleep, std::function<void()> wake) override {
        willSleep = std::move(sleep);
        didWake = std::move(wake);
    }
    void setControlActive(bool active) override {
        controlActive = active;
        if (onControlActive) {
            onControlActive(active);
        }
    }
};

struct FakeLaunchAtLogin final : LaunchAtLogin {
    bool enabled = false;
    std::optional<std::string> failure;
    bool isEnabled() override { return enabled; }
    void setEnabled(bool value) override {
        if (failure) {
            throw std::runtime_error(*failure);
        }
        enabled = value;
    }
};

// An app model over a real helper engine on a simulated Mac, everything on manual executors on one
// virtual clock: fakes for every platform service (helper approved, supervised test passed), scripted
// telemetry, the engine reached in process and its files in a temporary folder.
class AppModelHarness {
public:
    explicit AppModelHarness(const char* profile = "Mac15,11")
        : firmware(*SMCProfiles::named(profile), clock), main(clock), replies(clock) {
        paths.controlLock = directory / "fan-control.lock";
        paths.controlLockOwnerUID = std::nullopt;
        paths.capabilityMarker = directory / "capability";
        std::ofstream(paths.capabilityMarker) << "protocol=1\n";
        firmware.setAutomaticTarget(0, 1800);
        firmware.setAutomaticTarget(1, 1900);
        clock.advance(20000);
        firmware.advanceToNow();
        startEngine();
        registration.currentStatus = 1;
        defaults.setInteger("supervisedFanTestProtocolVersion", 1);
    }
    virtual ~AppModelHarness() {
        model.reset();
        runModelWork();
        engine.reset();
    }

    HelperControlEngine& startEngine() {
        engine = std::make_unique<HelperControlEngine>(firmware.makeUserClient(), clock, processes, scheduler,
                                                       paths);
        return *engine;
    }
    // Neither the helper nor the app has seen the supervised test pass.
    void unverified() {
        std::filesystem::remove(paths.capabilityMarker);
        startEngine();
        defaults.removeValue("supervisedFanTestProtocolVersion");
    }

    // Builds the model over the engine; telemetry is scripted unless a source is given.
    AppModel& build(std::unique_ptr<TelemetrySource> source = nullptr) {
        helperProcess.emplace(*engine, replies);
        model = std::make_unique<AppModel>(AppModel::Services{
            .helperClient =
                std::make_unique<HelperClient>(helperProcess->factory(), registration, main, main),
            .telemetry = source ? std::move(source) : std::make_unique<ScriptedTelemetry>(telemetry),
            .defaults = defaults,
            .mainExecutor = main,
            .scanExecutor = main,
            .processes = processes,
            .notifications = notifications,
            .powerMonitor = power,
            .launchAtLogin = launchAtLogin,
            .clock = clock,
            .wallClock =
                [this] { return AppModel::Date(std::chrono::milliseconds(clock.nowMilliseconds())); },
            .hardwareModelIdentifier = modelIdentifier,
            .openLoginItems =
                [this] {
                    ++loginItemsOpened;
                }});
        return *model;
    }
    // Builds and starts the model.
    AppModel& launch(std::unique_ptr<TelemetrySource> source = nullptr) {
        build(std::move(source));
        built();
        model->start();
        settle();
        return *model;
    }

    // Activates a preset and runs everything that follows.
    void activate(const FanPreset& preset) {
        model->activate(preset);
        settle();
    }

    // Runs the main executor and the helper's answers until nothing is left to do.
    void runModelWork() {
        while (main.runPending() + replies.runPending() > 0) {
        }
    }
    virtual void settle() { runModelWork(); }
    // What a fixture attaches to a model before it starts.
    virtual void built() {}

    // One poll's telemetry: the fans as the firmware has them now, and zone temperatures chosen by the
    // test (left zone driven by the P-cores, right by the GPU).
    TelemetrySnapshot snapshot(double left, double right, double hottest = 60) {
        firmware.advanceToNow();
        TelemetrySnapshot result;
        for (int fan : {0, 1}) {
            const auto value = [&](const char* suffix) {
                return std::lround(*firmware.floatValue(key(fan, suffix)));
            };
            result.fans.push_back({fan, value("Ac"), value("Mn"), value("Mx"),
                                   fanIsManual(fan) ? FanMode::manual : FanMode::automatic, value("Tg")});
        }
        auto& average = result.average.emplace();
        average.temperature = std::min(left, right);
        average.cpuMaximumTemperature = hottest;
        average.hotspotTemperature = hottest;
        average.hasValidatedFanZoneTopology = true;
        average.fanZoneReadings = {{0, "Left", left, "CPU P-cores", {"Tp01"}, left, std::nullopt},
                                   {1, "Right", right, "GPU", {"Tg0f"}, right, std::nullopt}};
        result.readings = {{"Tp01", "P-core 1", left}, {"Tg0f", "GPU 1", right}};
        result.helperState = HelperInstallState::enabled;
        return result;
    }

    // Answers the oldest outstanding read and runs everything that follows from it.
    void feed(TelemetrySource::Result result) {
        if (telemetry->reads.empty()) {
            throw std::logic_error("the model asked for no read");
        }
        auto read = std::move(telemetry->reads.front());
        telemetry->reads.pop_front();
        read(std::move(result));
        settle();
    }
    // Polls first when the model has no read outstanding.
    void pollAndFeed(TelemetrySource::Result result) {
        if (telemetry->reads.empty()) {
            model->poll();
        }
        feed(std::move(result));
    }
    // One poll later by the clock, so history and filters see time pass.
    void nextPoll(double left, double right, double hottest = 60) {
        clock.advance(2000);
        pollAndFeed(snapshot(left, right, hottest));
    }

    static SMCKey key(int fan, const char* suffix) {
        return SMCKey::fromString("F" + std::to_string(fan) + suffix);
    }
    std::int64_t firmwareTarget(int fan) {
        firmware.advanceToNow();
        return std::lround(*firmware.floatValue(key(fan, "Tg")));
    }
    bool fanIsManual(int fan) { return firmware.valueBytes(key(fan, "Md"))->front() == 1; }
    void competitorAppears() { processes.processes.push_back({4242, std::string("/usr/sbin/mbpfan")}); }

    TemporaryDirectory folder;
    const std::filesystem::path directory = folder.path();
    LogCapture logs;
    VirtualClock clock;
    SimulatedAppleSMC firmware;
    FakeProcessTable processes;
    ManualEngineScheduler scheduler;
    HelperEnginePaths paths;
    std::unique_ptr<HelperControlEngine> engine;

    ManualExecutor main;
    // Helper answers arrive here, so a test can hold them back.
    ManualExecutor replies;
    std::string modelIdentifier = "Mac15,11";
    int loginItemsOpened = 0;
    InMemoryDefaultsStore defaults;
    FakeDaemonRegistration registration;
    FakeNotificationCenter notifications;
    FakePowerMonitor power;
    FakeLaunchAtLogin launchAtLogin;
    std::shared_ptr<ScriptedTelemetry::State> telemetry = std::make_shared<ScriptedTelemetry::State>();
    std::optional<InProcessHelper> helperProcess;
    std::unique_ptr<AppModel> model;
};

} // namespace quorvane::testing
