#include "App/AppModel.hpp"

#include "App/TextFormat.hpp"
#include "Helpers/AppIdentity.hpp"
#include "Helpers/FanControlOwnershipStore.hpp"
#include "Helpers/FanCurveManager.hpp"
#include "Helpers/HistoryRetention.hpp"
#include "Helpers/PresetSelectionStore.hpp"
#include "Helpers/ThermalControlCompatibility.hpp"
#include "Helpers/UUID.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace quorvane {

namespace {

const std::string notificationsOffMessage =
    "Notifications are off for Quorvane; enable them in your desktop's notification settings.";

std::string describe(const std::exception_ptr& error) {
    if (!error) {
        return "Telemetry read failed";
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "Telemetry read failed";
    }
}

} // namespace

AppModel::AppModel(Services services)
    : helper_(std::move(services.helperClient)), telemetry_(std::move(services.telemetry)),
      defaults_(services.defaults), main_(services.mainExecutor), scanExecutor_(services.scanExecutor),
      processes_(services.processes), notifications_(services.notifications),
      powerMonitor_(services.powerMonitor), launchAtLoginService_(services.launchAtLogin),
      clock_(services.clock), wallClock_(std::move(services.wallClock)),
      hardwareModelIdentifier_(std::move(services.hardwareModelIdentifier)),
      smcMachine_(std::move(services.smcMachine)), openLoginItems_(std::move(services.openLoginItems)),
      activateApp_(std::move(services.activateApp)), logger_(AppBundleIdentifier, "Setup"),
      nextRestoreAttempt_(-std::numeric_limits<double>::infinity()) {
    if (!helper_ || !telemetry_ || !wallClock_) {
        throw std::invalid_argument("AppModel needs a helper client, a telemetry source and a wall clock");
    }
    loadSettings();
    helperState_ = helper_->installState();
    helper_->setSessionErrorHandler(onMain([this](XPCError error) { handleSessionLoss(error); }));
    helper_->setControlActivityHandler(
        [&power = powerMonitor_](bool active) { power.setControlActive(active); });
}

AppModel::~AppModel() {
    // Answers still queued on the executors must find the model gone.
    lifetime_.reset();
    cancelPollTimer();
    stopConflictMonitor();
}

void AppModel::loadSettings() {
    customPresets_ = FanCurveManager(defaults_).loadCustomPresets();
    activePreset_ = PresetSelectionStore(defaults_).load(FanPreset::menuOrder(customPresets_));
    if (activePreset_.kind != PresetKind::system) {
        presetPendingRestore_ = activePreset_;
    }
    fanControlOwnership_ = FanControlOwnershipStore(defaults_).load();
    launchAtLogin_ = launchAtLoginService_.isEnabled();

    // A stored 0 is what an absent double reads as.
    const double interval = defaults_.number("pollingInterval").value_or(0);
    pollingInterval_ = interval == 0 ? 2.0 : std::clamp(interval, 1.0, 5.0);
    const double threshold = defaults_.number("overheatThreshold").value_or(0);
    overheatThreshold_ = threshold == 0 ? 85.0 : std::clamp(threshold, 40.0, 100.0);
    overheatAlertsEnabled_ = defaults_.boolean("overheatAlertsEnabled").value_or(false);
    supervisedTestPassed_ = defaults_.integer("supervisedFanTestProtocolVersion") == std::int64_t{1};
}

void AppModel::start() {
    try {
        telemetry_->open();
    } catch (const std::exception& error) {
        setLastError(std::string(error.what()));
    }
    observePowerLifecycle();
    restartPolling();
}

// ---- observation ----------------------------------------------------------------------------

AppModel::ObserverToken AppModel::addObserver(Observer observer) {
    const auto token = nextObserverToken_++;
    observers_.emplace(token, std::make_shared<Observer>(std::move(observer)));
    return token;
}

void AppModel::removeObserver(ObserverToken token) {
    observers_.erase(token);
}

void AppModel::notify(Property property) {
    const auto observers = observers_;
    for (const auto& [token, observer] : observers) {
        (*observer)(property);
    }
}

void AppModel::setLastError(std::optional<std::string> text) {
    publish(Property::lastError, lastError_, std::move(text));
}

void AppModel::setBusy(bool busy) {
    publish(Property::isBusy, isBusy_, busy);
}

bool AppModel::persist(const std::function<void()>& write) {
    try {
        write();
        return true;
    } catch (const std::exception& error) {
        logger_.error(std::string("settings write failed: ") + error.what());
        setLastError(std::string(error.what()));
        return false;
    }
}

std::optional<std::string> AppModel::visibleError() const {
    if (lastError_ && lastError_ == activeConflictMessage_) {
        return std::nullopt;
    }
    return lastError_;
}

std::vector<FanPreset> AppModel::presetMenu() const {
    return FanPreset::menuOrder(customPresets_);
}

double AppModel::now() const {
    return static_cast<double>(clock_.nowMilliseconds()) / 1000.0;
}

// ---- settings of this half ------------------------------------------------------------------

void AppModel::setPollingInterval(double seconds) {
    publish(Property::pollingInterval, pollingInterval_, seconds);
}

void AppModel::setOverheatAlertsEnabled(bool enabled) {
    publish(Property::overheatAlertsEnabled, overheatAlertsEnabled_, enabled);
    persist([&] { defaults_.setBool("overheatAlertsEnabled", enabled); });
    if (!enabled) {
        return;
    }
    notifications_.requestAuthorization(onMain([this](bool granted, std::optional<std::string>) {
        if (!granted) {
            setLastError(notificationsOffMessage);
        }
    }));
}

void AppModel::setOverheatThreshold(double celsius) {
    publish(Property::overheatThreshold, overheatThreshold_, celsius);
    persist([&] { defaults_.setNumber("overheatThreshold", celsius); });
}

// ---- polling --------------------------------------------------------------------------------

void AppModel::cancelPollTimer() {
    if (pollTimer_) {
        main_.cancel(*pollTimer_);
        pollTimer_.reset();
    }
}

void AppModel::restartPolling() {
    cancelPollTimer();
    if (powerLifecycle_.isSleeping() || isTerminating_) {
        return;
    }
    persist([&] { defaults_.setNumber("pollingInterval", pollingInterval_); });
    // The setter stores what it is given; the timer itself never spins faster than the loaded bounds.
    const double period = std::isfinite(pollingInterval_) ? std::clamp(pollingInterval_, 1.0, 5.0) : 2.0;
    pollTimer_ = main_.scheduleRepeating(std::llround(period * 1000.0),
                                         [this, alive = std::weak_ptr<char>(lifetime_)] {
                                             if (alive.lock()) {
                                                 poll();
                                             }
                                         });
    poll();
}

void AppModel::poll() {
    if (powerLifecycle_.isSleeping() || isTerminating_) {
        return;
    }
    requestCompetingControllerScan();
    if (pollInFlight_) {
        pollRequested_ = true;
        return;
    }
    pollInFlight_ = true;
    const auto generation = powerLifecycle_.generation();
    telemetry_->read(onMain([this, generation](TelemetrySource::Result result) {
        handlePollResult(generation, std::move(result));
    }));
}

void AppModel::finishPoll() {
    pollInFlight_ = false;
    if (pollRequested_) {
        pollRequested_ = false;
        if (!powerLifecycle_.isSleeping()) {
            main_.post([this, alive = std::weak_ptr<char>(lifetime_)] {
                if (alive.lock()) {
                    poll();
                }
            });
        }
    }
}

void AppModel::handlePollResult(std::uint64_t generation, TelemetrySource::Result result) {
    finishPoll();
    if (!powerLifecycle_.accepts(generation)) {
        return;
    }
    if (auto* snapshot = std::get_if<TelemetrySnapshot>(&result)) {
        publish(Property::helperState, helperState_, snapshot->helperState);
        applySnapshot(*snapshot);
    } else {
        handlePollError(describe(std::get<std::exception_ptr>(result)));
    }
}

// ---- the fold -------------------------------------------------------------------------------

void AppModel::applySnapshot(const TelemetrySnapshot& snapshot) {
    // Without the composite (too few channels) every field it feeds is absent.
    const CPUCoreAverage* average = snapshot.average ? &*snapshot.average : nullptr;
    const auto field = [average](std::optional<double> CPUCoreAverage::*member) {
        return average ? average->*member : std::nullopt;
    };
    if (!snapshot.fans.empty()) {
        publish(Property::fans, fans_, snapshot.fans);
    }
    publish(Property::cpuCoreAverage, cpuCoreAverage_,
            average ? std::optional<double>(average->temperature) : std::nullopt);
    publish(Property::gpuCoreAverage, gpuCoreAverage_, field(&CPUCoreAverage::gpuAverageTemperature));
    publish(Property::cpuCoreMaximum, cpuCoreMaximum_,
            average ? std::optional<double>(average->cpuMaximumTemperature) : std::nullopt);
    publish(Property::efficiencyCoreMaximum, efficiencyCoreMaximum_,
            field(&CPUCoreAverage::efficiencyMaximumTemperature));
    publish(Property::performanceCoreMaximum, performanceCoreMaximum_,
            field(&CPUCoreAverage::performanceMaximumTemperature));
    publish(Property::gpuCoreMaximum, gpuCoreMaximum_, field(&CPUCoreAverage::gpuMaximumTemperature));
    publish(Property::cpuDieHotspotTemperature, cpuDieHotspotTemperature_,
            field(&CPUCoreAverage::hotspotTemperature));
    publish(Property::gpuDieHotspotTemperature, gpuDieHotspotTemperature_,
            field(&CPUCoreAverage::gpuHotspotTemperature));
    pollsWithoutComposite_ = average ? 0 : pollsWithoutComposite_ + 1;
    if (compositeUnavailable_ != snapshot.compositeUnavailable) {
        compositeUnavailable_ = snapshot.compositeUnavailable;
        notify(Property::thermalControlSupported);
    }
    publish(Property::thermalControlSupported, thermalControlSupported_,
            average != nullptr && ThermalControlCompatibility::allowsControl(
                                      hardwareModelIdentifier_, average->hasValidatedFanZoneTopology));

    // Without the composite the display shows the hottest channel the machine has.
    double hottest = std::numeric_limits<double>::quiet_NaN();
    if (average) {
        hottest = average->thermalDisplayTemperature();
    } else {
        for (const auto& reading : snapshot.readings) {
            hottest = std::isnan(hottest) ? reading.value : std::max(hottest, reading.value);
        }
    }
    if (std::isfinite(hottest)) {
        displayPipeline_.update(hottest);
    }
    publish(Property::displayTemperature, displayTemperature_, displayPipeline_.value());

    const double seconds = now();
    const Date date = wallClock_();

    const bool wasOverriding = criticalThermalOverrideActive_;
    publish(Property::criticalThermalOverrideActive, criticalThermalOverrideActive_,
            criticalThermalOverride_.update(hottest, seconds));
    if (criticalThermalOverrideActive_ != wasOverriding) {
        if (criticalThermalOverrideActive_) {
            logger_.error(formatted(
                "critical raw-die override engaged at %f°C; all manually controlled fans will run at maximum",
                hottest));
        } else {
            logger_.notice("critical raw-die override cleared after sustained cooling");
        }
    }

    std::optional<double> dieHeat;
    for (const auto& candidate :
         {field(&CPUCoreAverage::hotspotTemperature), field(&CPUCoreAverage::gpuHotspotTemperature)}) {
        if (candidate) {
            dieHeat = dieHeat ? std::max(*dieHeat, *candidate) : *candidate;
        }
    }
    auto sustained = dieHeat ? sustainedDieFilter_.update(*dieHeat) : sustainedDieFilter_.noteMissingSample();
    publish(Property::sustainedDieTemperature, sustainedDieTemperature_, sustained);
    if (!sustained) {
        sustainedDieSamples_.clear();
    } else {
        sustainedDieSamples_.push_back({seconds, *sustained});
        if (sustainedDieSamples_.size() > 3) {
            sustainedDieSamples_.erase(sustainedDieSamples_.begin(), sustainedDieSamples_.end() - 3);
        }
    }

    zoneReadings_.clear();
    for (const auto& reading : average ? average->fanZoneReadings : std::vector<FanZoneReading>{}) {
        // Two readings for one fan would be a reader fault; the first one stands.
        if (!zoneReadings_.emplace(reading.fanIndex, reading).second) {
            logger_.error("duplicate fan-zone reading for fan " + std::to_string(reading.fanIndex) +
                          " ignored");
        }
    }
    std::map<int, double> temperatures;
    std::map<int, std::string> drivers;
    for (const auto& [fan, reading] : zoneReadings_) {
        auto filter = zoneFilters_.find(fan);
        if (filter == zoneFilters_.end()) {
            filter = zoneFilters_.emplace(fan, FanZoneThermalFilter(std::nullopt, 0.45, 0.18, 0.35, 1.0, 8.0))
                         .first;
        }
        temperatures[fan] = filter->second.update(reading.temperature, seconds);
        drivers[fan] = reading.driver;
    }
    publish(Property::fanControlTemperatures, fanControlTemperatures_, temperatures);
    publish(Property::fanControlDrivers, fanControlDrivers_, drivers);

    std::optional<double> control;
    for (const auto& [fan, temperature] : fanControlTemperatures_) {
        control = control ? std::max(*control, temperature) : temperature;
    }
    if (!control && average) {
        const auto gpu = average->gpuAverageTemperature;
        control = gpu && *gpu > average->temperature ? *gpu : average->temperature;
    }
    publish(Property::controlTemperature, controlTemperature_, control);
    // Before the sample date, which observers take as "the poll is in".
    publish(Property::sensorReadings, sensorReadings_, snapshot.readings);
    publish(Property::electricalReadings, electricalReadings_, snapshot.electricalReadings);
    publish(Property::lastTemperatureSampleDate, lastTemperatureSampleDate_, std::optional<Date>(date));

    if (consecutiveTelemetryFailures_ >= 1 && lastError_ != activeConflictMessage_) {
        if (lastError_) {
            logger_.notice("cleared resolved error after telemetry recovery");
        }
        setLastError(std::nullopt);
    }
    consecutiveTelemetryFailures_ = 0;

    recordHistory(snapshot, date);
    if (displayPipeline_.isEstablished()) {
        checkOverheat(displayTemperature_.value_or(hottest));
    }

    if (activePreset_.kind != PresetKind::system && !helper_->sessionID() && !presetPendingRestore_) {
        presetPendingRestore_ = activePreset_;
    }
    restoreRememberedPresetIfReady();
    if (!average) {
        // Nothing to control from: one such poll is tolerated, as one failed read is.
        if (pollsWithoutComposite_ >= 2 && activePreset_.kind != PresetKind::system && helper_->sessionID()) {
            resetToAutomatic("CPU/GPU reading unavailable", true, true);
        }
        return;
    }
    if (fanControlOwnership_ == FanControlOwnership::quorvane) {
        runControlStep();
    }
}

std::optional<std::string> AppModel::controlUnavailableReason() const {
    if (thermalControlSupported_ || !lastTemperatureSampleDate_) {
        return std::nullopt;
    }
    return unsupportedControlMessage();
}

std::string AppModel::unsupportedControlMessage() const {
    if (compositeUnavailable_) {
        const bool gpu = compositeUnavailable_->starts_with("GPU");
        return std::string("Fan control is unavailable because this Mac's SMC does not report the ") +
               (gpu ? "GPU cluster" : "CPU core") + " temperatures that fan control is computed from (" +
               *compositeUnavailable_ + "); Quorvane monitors only.";
    }
    return "Fan control is hardware-verified only on Mac15,11. This " + hardwareModelIdentifier_ +
           " remains in safe monitoring-only mode until its sensor and fan topology is validated.";
}

void AppModel::clearThermalState() {
    zoneFilters_.clear();
    zoneReadings_.clear();
    publish(Property::fanControlTemperatures, fanControlTemperatures_, {});
    publish(Property::fanControlDrivers, fanControlDrivers_, {});
    sustainedDieFilter_.reset();
    publish(Property::sustainedDieTemperature, sustainedDieTemperature_, {});
    sustainedDieSamples_.clear();
    criticalThermalOverride_.reset();
    publish(Property::criticalThermalOverrideActive, criticalThermalOverrideActive_, false);
    displayPipeline_.reset();
    publish(Property::displayTemperature, displayTemperature_, {});
}

void AppModel::handlePollError(const std::string& description) {
    ++consecutiveTelemetryFailures_;
    setLastError(description);
    // One glitch is tolerated; from the second failure in a row nothing may be controlled from old data.
    if (consecutiveTelemetryFailures_ < 2) {
        return;
    }
    clearThermalState();
    publish(Property::controlTemperature, controlTemperature_, {});
    publish(Property::lastTemperatureSampleDate, lastTemperatureSampleDate_, {});
    if (activePreset_.kind != PresetKind::system && helper_->sessionID()) {
        resetToAutomatic("Thermal or fan telemetry became stale", true, true);
    }
}

// ---- history --------------------------------------------------------------------------------

void AppModel::recordHistory(const TelemetrySnapshot& snapshot, Date date) {
    // A poll that saw no fans has no speeds to chart; the previous fans are not a measurement.
    if (snapshot.fans.empty()) {
        return;
    }
    constexpr float missing = std::numeric_limits<float>::quiet_NaN();
    const std::size_t index = history_.size();
    for (auto& [key, series] : sensorHistory_) {
        series.push_back(missing);
    }

    auto ordered = fans_;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const FanInfo& lhs, const FanInfo& rhs) { return lhs.index < rhs.index; });
    const double missingValue = std::numeric_limits<double>::quiet_NaN();
    const auto& average = snapshot.average;
    HistorySample sample{
        .date = date,
        .cpuTemp =
            displayTemperature_.value_or(average ? average->thermalDisplayTemperature() : missingValue),
        .cpuCoreAverage = average ? average->temperature : missingValue,
        .gpuCoreAverage = average ? average->gpuAverageTemperature : std::nullopt,
        .controlTemp = controlTemperature_.value_or(average ? average->controlTemperature() : missingValue),
        .rpms = {}};
    for (const auto& fan : ordered) {
        sample.rpms.push_back(fan.actualRPM);
    }
    history_.push_back(std::move(sample));

    for (const auto* readings : {&snapshot.readings, &snapshot.electricalReadings}) {
        for (const auto& reading : *readings) {
            auto& series = sensorHistory_[reading.keyName];
            // New series are back-filled so that entry `index` lines up with this sample.
            if (series.size() < index + 1) {
                series.insert(series.begin(), index + 1 - series.size(), missing);
            }
            series[index] = static_cast<float>(reading.value);
        }
    }
    HistoryRetention::trim(history_, sensorHistory_, historySampleLimit, historyTrimBatchSize);
    notify(Property::history);
}

// ---- alerts ---------------------------------------------------------------------------------

void AppModel::checkOverheat(double temperature) {
    if (!overheatAlertsEnabled_ || !(temperature >= overheatThreshold_)) {
        return;
    }
    const double seconds = now();
    if (lastOverheatAlert_ && seconds - *lastOverheatAlert_ < overheatCooldown) {
        return;
    }
    lastOverheatAlert_ = seconds;
    logger_.notice(formatted("overheat threshold crossed at %f°C; requesting notification", temperature));
    deliverNotification("High CPU Temperature",
                        formatted("CPU/GPU thermal signal reached %.1f °C (threshold %.0f °C).", temperature,
                                  overheatThreshold_));
}

void AppModel::sendTestNotification() {
    logger_.notice("test notification requested");
    if (activateApp_) {
        activateApp_();
    }
    deliverNotification("Quorvane", "Test notification — overheat alerts use this channel.");
}

void AppModel::deliverNotification(const std::string& title, const std::string& body) {
    notifications_.requestAuthorization(
        onMain([this, title, body](bool granted, std::optional<std::string> error) {
            if (error) {
                logger_.error("notification authorization error: " + *error);
                setLastError("Notification error: " + *error);
                return;
            }
            if (!granted) {
                logger_.notice("notification authorization denied");
                setLastError(notificationsOffMessage);
                return;
            }
            notifications_.deliver(UUID::generate().uuidString(), title, body,
                                   onMain([this](std::optional<std::string> failure) {
                                       if (failure) {
                                           logger_.error("notification delivery failed: " + *failure);
                                       }
                                   }));
            logger_.notice("notification queued: " + title);
        }));
}

// ---- sleep and wake -------------------------------------------------------------------------

void AppModel::observePowerLifecycle() {
    if (powerObserved_) {
        return;
    }
    powerObserved_ = true;
    powerMonitor_.start(onMain([this] { systemWillSleep(); }), onMain([this] { systemDidWake(); }));
}

void AppModel::systemWillSleep() {
    powerLifecycle_.willSleep();
    cancelPollTimer();
    stopConflictMonitor();
    pollRequested_ = false;
    clearThermalState();
    resetToAutomatic("system sleep", true, false);
}

void AppModel::systemDidWake() {
    powerLifecycle_.didWake();
    clearThermalState();
    requestCompetingControllerScan();
    restartPolling();
}

} // namespace quorvane
