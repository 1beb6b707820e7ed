#pragma once

#include "App/HistorySample.hpp"
#include "App/TelemetrySource.hpp"
#include "Client/HelperClient.hpp"
#include "Client/HelperInstallState.hpp"
#include "Client/TelemetrySnapshot.hpp"
#include "Helpers/Clock.hpp"
#include "Helpers/CoalescedRefreshState.hpp"
#include "Helpers/CriticalThermalOverride.hpp"
#include "Helpers/DefaultsStore.hpp"
#include "Helpers/FanControlOwnership.hpp"
#include "Helpers/FanPreset.hpp"
#include "Helpers/FanTargetWriteCoalescer.hpp"
#include "Helpers/FanZoneReading.hpp"
#include "Helpers/FanZoneThermalFilter.hpp"
#include "Helpers/HysteresisCurve.hpp"
#include "Helpers/Logger.hpp"
#include "Helpers/PowerLifecycleState.hpp"
#include "Helpers/ProcessTable.hpp"
#include "Helpers/SensorReading.hpp"
#include "Helpers/SmartAutoCurve.hpp"
#include "Helpers/SmartAutoRampDownState.hpp"
#include "Helpers/SustainedDieHeatFilter.hpp"
#include "Helpers/TemperatureDisplayPipeline.hpp"
#include "Platform/Executor.hpp"
#include "Platform/LaunchAtLogin.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/PowerMonitor.hpp"
#include "SMC/FanInfo.hpp"
#include "XPC/XPCError.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvane {

// The app's controller: polls telemetry, folds it into observable state, keeps history, raises
// overheat alerts, drives the fans through the helper for the selected preset and hands them back to
// the system whenever control is no longer safe. Everything runs on the main executor; answers from
// the helper, the poller, the controller scan and the platform hop back there and are dropped once
// the model is gone or the control generation has moved on.
class AppModel {
public:
    // Every published value; observers are told which one changed.
    enum class Property {
        fans,
        cpuCoreAverage,
        gpuCoreAverage,
        cpuCoreMaximum,
        efficiencyCoreMaximum,
        performanceCoreMaximum,
        gpuCoreMaximum,
        cpuDieHotspotTemperature,
        gpuDieHotspotTemperature,
        lastTemperatureSampleDate,
        displayTemperature,
        controlTemperature,
        fanControlTemperatures,
        fanControlDrivers,
        sustainedDieTemperature,
        criticalThermalOverrideActive,
        thermalControlSupported,
        helperState,
        competingController,
        fanControlOwnership,
        activePreset,
        customPresets,
        lastError,
        isBusy,
        supervisedTestPassed,
        pollingInterval,
        launchAtLogin,
        overheatAlertsEnabled,
        overheatThreshold,
        history,
        sensorReadings,
        electricalReadings,
        activeConflictMessage,
    };

    // Failures the app itself finds in the helper's answers.
    enum class ClientFailure { abnormalPreflight, resetUnverified, noControllableFans };

    using Date = std::chrono::system_clock::time_point;
    using Observer = std::function<void(Property)>;
    using ObserverToken = std::uint64_t;

    struct Services {
        std::unique_ptr<HelperClient> helperClient;
        std::unique_ptr<TelemetrySource> telemetry;
        DefaultsStore& defaults;
        MainExecutor& mainExecutor;
        // Runs the competing-controller scan off the main executor.
        Executor& scanExecutor;
        ProcessTable& processes;
        NotificationCenter& notifications;
        PowerMonitor& powerMonitor;
        LaunchAtLogin& launchAtLogin;
        // Steady time for filters, cooldowns and retries.
        Clock& clock;
        // Calendar time for history and the last sample.
        std::function<Date()> wallClock;
        std::string hardwareModelIdentifier;
        // Which SMC is in use, as the settings and --json name it.
        std::string smcMachine = {};
        // Optional: the system's Login Items settings, and bringing the app to the front.
        std::function<void()> openLoginItems = {};
        std::function<void()> activateApp = {};
    };

    // Loads the settings, the preset library, the remembered selection and the owner; polls nothing.
    explicit AppModel(Services services);
    ~AppModel();
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Opens the telemetry, watches sleep and wake and starts polling. The maintenance launch that
    // only refreshes the helper registration does not call it.
    void start();

    // Observers run on the main executor right after each change; they should read the model and
    // leave its operations to later tasks.
    ObserverToken addObserver(Observer observer);
    void removeObserver(ObserverToken token);

    // ---- published state ----
    const std::vector<FanInfo>& fans() const { return fans_; }
    std::optional<double> cpuCoreAverage() const { return cpuCoreAverage_; }
    std::optional<double> gpuCoreAverage() const { return gpuCoreAverage_; }
    std::optional<double> cpuCoreMaximum() const { return cpuCoreMaximum_; }
    std::optional<double> efficiencyCoreMaximum() const { return efficiencyCoreMaximum_; }
    std::optional<double> performanceCoreMaximum() const { return performanceCoreMaximum_; }
    std::optional<double> gpuCoreMaximum() const { return gpuCoreMaximum_; }
    std::optional<double> cpuDieHotspotTemperature() const { return cpuDieHotspotTemperature_; }
    std::optional<double> gpuDieHotspotTemperature() const { return gpuDieHotspotTemperature_; }
    std::optional<Date> lastTemperatureSampleDate() const { return lastTemperatureSampleDate_; }
    std::optional<double> displayTemperature() const { return displayTemperature_; }
    std::optional<double> controlTemperature() const { return controlTemperature_; }
    const std::map<int, double>& fanControlTemperatures() const { return fanControlTemperatures_; }
    const std::map<int, std::string>& fanControlDrivers() const { return fanControlDrivers_; }
    std::optional<double> sustainedDieTemperature() const { return sustainedDieTemperature_; }
    bool criticalThermalOverrideActive() const { return criticalThermalOverrideActive_; }
    bool thermalControlSupported() const { return thermalControlSupported_; }
    // Why fan control is refused on this machine, once a poll has told; published with
    // thermalControlSupported.
    std::optional<std::string> controlUnavailableReason() const;
    HelperInstallState helperState() const { return helperState_; }
    const std::optional<std::string>& competingController() const { return competingController_; }
    FanControlOwnership fanControlOwnership() const { return fanControlOwnership_; }
    const FanPreset& activePreset() const { return activePreset_; }
    const std::vector<FanPreset>& customPresets() const { return customPresets_; }
    const std::optional<std::string>& lastError() const { return lastError_; }
    bool isBusy() const { return isBusy_; }
    bool supervisedTestPassed() const { return supervisedTestPassed_; }
    double pollingInterval() const { return pollingInterval_; }
    bool launchAtLogin() const { return launchAtLogin_; }
    bool overheatAlertsEnabled() const { return overheatAlertsEnabled_; }
    double overheatThreshold() const { return overheatThreshold_; }
    const std::vector<HistorySample>& history() const { return history_; }
    const std::vector<SensorReading>& sensorReadings() const { return sensorReadings_; }
    // Power, voltage and current channels; shown and recorded, never a temperature.
    const std::vector<SensorReading>& electricalReadings() const { return electricalReadings_; }
    // The banner text of a competing-controller conflict.
    const std::optional<std::string>& activeConflictMessage() const { return activeConflictMessage_; }
    // The error to show, except the conflict message, which has a banner of its own.
    std::optional<std::string> visibleError() const;

    // Per sensor key, temperatures and electrical channels alike, one value per history sample
    // (NaN where the sensor was missing).
    const std::map<std::string, std::vector<float>>& sensorHistory() const { return sensorHistory_; }
    const std::string& hardwareModelIdentifier() const { return hardwareModelIdentifier_; }
    const std::string& smcMachine() const { return smcMachine_; }
    // The picker's presets, built-ins first.
    std::vector<FanPreset> presetMenu() const;
    HelperClient& helperClient() { return *helper_; }

    // ---- polling, alerts ----
    // (Re)starts the poll timer at the current interval, stores the interval and polls at once.
    void restartPolling();
    void poll();
    // Stores only; restartPolling() applies and persists it.
    void setPollingInterval(double seconds);
    // Persisted at once; turning alerts on asks for notification permission.
    void setOverheatAlertsEnabled(bool enabled);
    void setOverheatThreshold(double celsius);
    void sendTestNotification();

    // ---- control ----
    // The refusal when the preset cannot even be tried now (the sentence lastError also shows, or why
    // the model is not free to take it); absent once it is being applied.
    std::optional<std::string> activate(const FanPreset& preset, bool quietTransientRetry = false);
    // Hands every fan back to the system. The completion runs on the main executor.
    void resetToAutomatic(const std::string& reason, bool preservingSelection, bool resumePolling,
                          std::function<void()> completion = {});
    // Hands the fans back, closes the helper connection and the telemetry, then calls the completion.
    void prepareForTermination(std::function<void()> completion);
    bool isTerminating() const { return isTerminating_; }

    // ---- supervised test, helper registration ----
    // Why an operation that needs the fans is refused while a hand-over, sleep or quit is under way.
    static constexpr const char* busyRefusal = "Quorvane is busy with the fans; try again in a moment.";
    // An outcome reported once an operation has finished: absent, or the sentence that says why not.
    using Finished = std::function<void(std::optional<std::string> failure)>;
    void runSupervisedFan0Test(Finished finished = {});
    // `finished` runs when the registration has its answer; approval still pending is no failure.
    void installHelper(Finished finished = {});
    void uninstallHelper();
    // The banner text while `controllerName` keeps its helper running.
    std::string conflictMessage(const std::string& controllerName) const;

    // ---- preset library and settings ----
    void createCustomPreset();
    void duplicatePreset(const FanPreset& preset);
    // Trimmed; a name of only white space, or a locked preset, is left alone.
    void renamePreset(const FanPreset& preset, const std::string& newName);
    void savePreset(const FanPreset& preset);
    void deletePreset(const FanPreset& preset);
    // Both report failures in lastError and return whether they succeeded.
    bool exportCustomPresets(const std::filesystem::path& file);
    bool importCustomPresets(const std::filesystem::path& file);
    void setLaunchAtLogin(bool enabled);
    void setFanControlOwnership(FanControlOwnership owner);

    static std::string description(ClientFailure failure);
    static XPCError error(ClientFailure failure);
    static inline const std::string clientFailureDomain = "Quorvane.AppModel.ClientFailure";

    static constexpr std::size_t historySampleLimit = 21600;
    static constexpr std::size_t historyTrimBatchSize = 600;
    static constexpr double overheatCooldown = 300.0;
    static constexpr double restoreRetryDelay = 5.0;
    static constexpr std::int64_t conflictMonitorPeriodMilliseconds = 500;

private:
    // Wraps a callback so that, whatever thread calls it, its body runs on the main executor and
    // only while this model exists.
    template <typename Body> auto onMain(Body body) {
        return [executor = &main_, alive = std::weak_ptr<char>(lifetime_), body](auto... arguments) {
            executor->post([alive, body, ... arguments = std::move(arguments)]() mutable {
                if (alive.lock()) {
                    body(std::move(arguments)...);
                }
            });
        };
    }

    template <typename T> void publish(Property property, T& field, T value) {
        if (field == value) {
            return;
        }
        field = std::move(value);
        notify(property);
    }
    void notify(Property property);
    void setLastError(std::optional<std::string> text);
    void setBusy(bool busy);
    // Runs a store write; a failure becomes the visible error instead of vanishing.
    bool persist(const std::function<void()>& write);

    double now() const;
    void loadSettings();

    // Telemetry (AppModel.cpp).
    void finishPoll();
    void handlePollResult(std::uint64_t generation, TelemetrySource::Result result);
    void applySnapshot(const TelemetrySnapshot& snapshot);
    void handlePollError(const std::string& description);
    // The one sentence that refuses control here: what the machine lacks, or the model gate.
    std::string unsupportedControlMessage() const;
    void clearThermalState();
    void recordHistory(const TelemetrySnapshot& snapshot, Date date);
    void checkOverheat(double temperature);
    void deliverNotification(const std::string& title, const std::string& body);
    void observePowerLifecycle();
    void systemWillSleep();
    void systemDidWake();
    void cancelPollTimer();

    // Control (AppModelControl.cpp).
    HysteresisCurve freshCurve(const FanPreset& preset, int fan) const;
    double zoneTemperature(int fan, double fallback) const;
    std::vector<FanInfo> controlledFans() const;
    void handleSessionAnswer(const FanPreset& preset, std::uint64_t generation, bool quietTransientRetry,
                             std::optional<nlohmann::json> reply, std::optional<XPCError> error,
                             bool reusingSession);
    void enableFans(const FanPreset& preset, std::uint64_t generation, std::vector<int> remaining);
    std::int64_t activationTarget(const FanPreset& preset, const FanInfo& fan);
    void finishActivation(const FanPreset& preset, std::uint64_t generation, std::optional<XPCError> error);
    void abandonOrphanSession();
    void runControlStep();
    void applyCurve();
    void applySmartAuto();
    void reconcileFixedTargets();
    void writeIfNeeded(const FanInfo& fan, std::int64_t target, const std::optional<std::string>& reason);
    void requestTarget(int fan, std::int64_t target);
    void sendTarget(int fan, std::int64_t target);
    void logFanDecision(int fan, std::int64_t target, const std::string& reason);
    void logZoneDriverChange(int fan, std::int64_t target);
    void resetSmartAutoState();
    void failSafe(const XPCError& error);
    void handleSessionLoss(const XPCError& error);
    void restoreRememberedPresetIfReady();
    void finishTermination();

    // Supervised test and competing controllers (AppModelSupervision.cpp).
    void handleTestSession(std::optional<nlohmann::json> reply, std::optional<XPCError> error);
    void finishFailedTest(const XPCError& error);
    void reportTestOutcome(const std::optional<std::string>& failure);
    void requestCompetingControllerScan();
    void runCompetingControllerRefresh();
    void applyCompetingController(const std::optional<std::string>& name);
    void startConflictMonitor();
    void stopConflictMonitor();
    void setActiveConflictMessage(std::optional<std::string> message);
    std::optional<std::string> detectCompetingController();

    // Presets (AppModelPresets.cpp).
    void saveLibrary(const std::string& errorPrefix);
    void rememberSelection(const FanPreset& preset);

    std::unique_ptr<HelperClient> helper_;
    std::unique_ptr<TelemetrySource> telemetry_;
    DefaultsStore& defaults_;
    MainExecutor& main_;
    Executor& scanExecutor_;
    ProcessTable& processes_;
    NotificationCenter& notifications_;
    PowerMonitor& powerMonitor_;
    LaunchAtLogin& launchAtLoginService_;
    Clock& clock_;
    std::function<Date()> wallClock_;
    std::string hardwareModelIdentifier_;
    std::string smcMachine_;
    std::function<void()> openLoginItems_;
    // Who waits for the supervised test that runs now.
    std::vector<Finished> testFinished_;
    std::function<void()> activateApp_;
    Logger logger_;

    // Published.
    std::vector<FanInfo> fans_;
    std::optional<double> cpuCoreAverage_;
    std::optional<double> gpuCoreAverage_;
    std::optional<double> cpuCoreMaximum_;
    std::optional<double> efficiencyCoreMaximum_;
    std::optional<double> performanceCoreMaximum_;
    std::optional<double> gpuCoreMaximum_;
    std::optional<double> cpuDieHotspotTemperature_;
    std::optional<double> gpuDieHotspotTemperature_;
    std::optional<Date> lastTemperatureSampleDate_;
    std::optional<double> displayTemperature_;
    std::optional<double> controlTemperature_;
    std::map<int, double> fanControlTemperatures_;
    std::map<int, std::string> fanControlDrivers_;
    std::optional<double> sustainedDieTemperature_;
    bool criticalThermalOverrideActive_ = false;
    bool thermalControlSupported_ = false;
    HelperInstallState helperState_ = HelperInstallState::unknown;
    std::optional<std::string> competingController_;
    FanControlOwnership fanControlOwnership_ = FanControlOwnership::quorvane;
    FanPreset activePreset_ = FanPreset::systemDefault;
    std::vector<FanPreset> customPresets_;
    std::optional<std::string> lastError_;
    bool isBusy_ = false;
    bool supervisedTestPassed_ = false;
    double pollingInterval_ = 2.0;
    bool launchAtLogin_ = false;
    bool overheatAlertsEnabled_ = false;
    double overheatThreshold_ = 85.0;
    std::vector<HistorySample> history_;
    std::vector<SensorReading> sensorReadings_;
    std::vector<SensorReading> electricalReadings_;
    std::optional<std::string> activeConflictMessage_;

    // Observers; the map is copied before each notification so an observer may unsubscribe.
    std::map<ObserverToken, std::shared_ptr<Observer>> observers_;
    ObserverToken nextObserverToken_ = 1;

    // Telemetry state.
    std::map<std::string, std::vector<float>> sensorHistory_;
    std::optional<double> lastOverheatAlert_;
    std::optional<MainExecutor::TimerID> pollTimer_;
    int consecutiveTelemetryFailures_ = 0;
    // What the last poll lacked to form the CPU/GPU reading, and for how many polls in a row.
    std::optional<std::string> compositeUnavailable_;
    int pollsWithoutComposite_ = 0;
    bool pollInFlight_ = false;
    bool pollRequested_ = false;
    PowerLifecycleState powerLifecycle_;
    bool isTerminating_ = false;
    bool terminated_ = false;
    bool powerObserved_ = false;
    std::map<int, FanZoneThermalFilter> zoneFilters_;
    std::map<int, FanZoneReading> zoneReadings_;
    SustainedDieHeatFilter sustainedDieFilter_{1.0, 0.1, 2};
    std::vector<SmartAutoCurve::DieSample> sustainedDieSamples_;
    TemperatureDisplayPipeline displayPipeline_;
    CriticalThermalOverride criticalThermalOverride_;

    // Control state.
    std::optional<FanPreset> presetPendingRestore_;
    double nextRestoreAttempt_;
    std::set<int> controllableFanIndices_;
    std::map<int, HysteresisCurve> curves_;
    std::uint64_t controlGeneration_ = 0;
    std::map<int, std::int64_t> lastTargets_;
    FanTargetWriteCoalescer targetWriteCoalescer_;
    std::map<int, SmartAutoRampDownState> smartRampDown_;
    std::map<int, int> lastSmartTier_;
    bool smartBoostActive_ = false;
    std::map<int, std::string> lastLoggedZoneDriver_;
    std::vector<std::function<void()>> terminationCompletions_;

    // Competing controllers.
    std::optional<MainExecutor::TimerID> conflictTimer_;
    CoalescedRefreshState competingControllerRefresh_;

    // Last member: callbacks hold it weakly to know the model still exists.
    std::shared_ptr<char> lifetime_ = std::make_shared<char>(0);
};

} // namespace quorvane
