#include "App/AppModel.hpp"
#include "App/SessionPreflight.hpp"
#include "App/TextFormat.hpp"
#include "Client/HelperTransport.hpp"
#include "Helpers/SmartAutoCurve.hpp"
#include "Helpers/SmartAutoDecision.hpp"
#include "XPC/HelperXPCError.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvane {

namespace {

constexpr double distantPast = -std::numeric_limits<double>::infinity();
constexpr double distantFuture = std::numeric_limits<double>::infinity();
constexpr std::int64_t deadbandRPM = 50;
constexpr double smartAutoFallbackTemperature = 55.0;

// A fan reporting inverted limits still gets targets inside what it reported.
std::int64_t lowest(const FanInfo& fan) {
    return std::min(fan.minRPM, fan.maxRPM);
}
std::int64_t highest(const FanInfo& fan) {
    return std::max(fan.minRPM, fan.maxRPM);
}

bool isHelperError(const XPCError& error, HelperXPCError::Code code) {
    return error.domain() == HelperXPCError::domain() && error.code() == static_cast<long>(code);
}

bool isTransientBeginFailure(const XPCError& error) {
    return HelperXPCError::isInvalidSession(error) || isHelperError(error, HelperXPCError::Code::busy) ||
           (error.domain() == helperConnectionErrorDomain &&
            (error.code() == helperConnectionInterrupted || error.code() == helperConnectionInvalid));
}

bool isCurvePreset(const FanPreset& preset) {
    return preset.kind == PresetKind::custom && preset.strategy == ControlStrategy::cpuCoreAverage;
}

bool isConstantPreset(const FanPreset& preset) {
    return preset.kind == PresetKind::custom && preset.strategy == ControlStrategy::constantRPM;
}

} // namespace

std::string AppModel::description(ClientFailure failure) {
    switch (failure) {
    case ClientFailure::abnormalPreflight:
        return "The helper preflight contained an abnormal fan reading";
    case ClientFailure::resetUnverified:
        return "Automatic mode could not be verified after the test";
    case ClientFailure::noControllableFans:
        return "The helper did not find a fan it can safely control on this Mac";
    }
    return "";
}

XPCError AppModel::error(ClientFailure failure) {
    return XPCError(clientFailureDomain, static_cast<long>(failure), description(failure));
}

HysteresisCurve AppModel::freshCurve(const FanPreset& preset, int fan) const {
    const auto settings = preset.settings(fan);
    return HysteresisCurve(settings.lowTemperature, settings.highTemperature, preset.hysteresis);
}

double AppModel::zoneTemperature(int fan, double fallback) const {
    if (auto zone = fanControlTemperatures_.find(fan); zone != fanControlTemperatures_.end()) {
        return zone->second;
    }
    return controlTemperature_.value_or(fallback);
}

void AppModel::resetSmartAutoState() {
    smartRampDown_.clear();
    lastSmartTier_.clear();
    smartBoostActive_ = false;
    lastLoggedZoneDriver_.clear();
}

// ---- activation -----------------------------------------------------------------------------

std::optional<std::string> AppModel::activate(const FanPreset& preset, bool quietTransientRetry) {
    if (isBusy_ || powerLifecycle_.isSleeping() || isTerminating_) {
        return std::string(busyRefusal);
    }
    nextRestoreAttempt_ = distantPast;

    if (preset.kind == PresetKind::system) {
        presetPendingRestore_.reset();
        rememberSelection(preset);
        if (lastError_ == activeConflictMessage_) {
            setLastError(std::nullopt);
        }
        resetToAutomatic("apple default selected", false, true);
        return std::nullopt;
    }

    if (fanControlOwnership_ != FanControlOwnership::quorvane) {
        setLastError(
            "Quorvane is in monitoring-only mode. Choose “Quorvane controls fans” in Settings before "
            "applying a preset.");
        return lastError_;
    }
    if (!thermalControlSupported_) {
        setLastError(unsupportedControlMessage());
        if (helper_->sessionID()) {
            resetToAutomatic("unverified hardware topology", true, true);
        }
        return unsupportedControlMessage();
    }

    publish(Property::activePreset, activePreset_, preset);
    presetPendingRestore_ = preset;
    rememberSelection(preset);
    ++controlGeneration_;
    targetWriteCoalescer_.reset();
    const auto generation = controlGeneration_;

    if (competingController_) {
        const auto message = conflictMessage(*competingController_);
        setActiveConflictMessage(message);
        setLastError(message);
        nextRestoreAttempt_ = distantFuture;
        return message;
    }

    std::optional<std::string> refusal;
    if (fans_.empty()) {
        refusal = "No controllable fans are currently available. Quorvane will retry when they return.";
    } else if (!supervisedTestPassed_ || helperState_ != HelperInstallState::enabled) {
        refusal = "Approve the helper and complete the supervised fan test first.";
    }
    if (refusal) {
        setLastError(*refusal);
        if (helper_->sessionID()) {
            nextRestoreAttempt_ = now() + restoreRetryDelay;
            resetToAutomatic(*refusal, true, true);
        }
        return refusal;
    }

    setBusy(true);
    if (helper_->sessionID()) {
        // Switching presets keeps the session: its opening preflight stands, and the fans are
        // already in manual mode, so a fresh preflight could never pass.
        handleSessionAnswer(preset, generation, quietTransientRetry, std::nullopt, std::nullopt, true);
        return std::nullopt;
    }
    helper_->beginSession(onMain([this, preset, generation, quietTransientRetry](
                                     std::optional<nlohmann::json> reply, std::optional<XPCError> error) {
        handleSessionAnswer(preset, generation, quietTransientRetry, std::move(reply), std::move(error),
                            false);
    }));
    return std::nullopt;
}

void AppModel::handleSessionAnswer(const FanPreset& preset, std::uint64_t generation,
                                   bool quietTransientRetry, std::optional<nlohmann::json> reply,
                                   std::optional<XPCError> error, bool reusingSession) {
    if (generation != controlGeneration_) {
        // A session opened for an activation that was called off would otherwise hold the fans'
        // lease forever and block every restore.
        if (!error && !reusingSession) {
            abandonOrphanSession();
        }
        return;
    }
    if (!reusingSession) {
        bool clean = false;
        if (reply) {
            std::set<int> fallback;
            for (const auto& fan : fans_) {
                fallback.insert(fan.index);
            }
            controllableFanIndices_ = SessionPreflight::controllableFans(*reply).value_or(fallback);
            clean = SessionPreflight::isClean(*reply);
        }
        if (!error && (!clean || controllableFanIndices_.empty())) {
            error = AppModel::error(ClientFailure::noControllableFans);
        }
    } else if (controllableFanIndices_.empty()) {
        error = AppModel::error(ClientFailure::noControllableFans);
    }
    if (activePreset_.id != preset.id) {
        return;
    }
    if (error) {
        if (quietTransientRetry && isTransientBeginFailure(*error)) {
            logger_.notice(formatted("preset restore deferred (%s); retrying shortly", error->what()));
            setBusy(false);
            presetPendingRestore_ = preset;
            nextRestoreAttempt_ = now() + restoreRetryDelay;
            abandonOrphanSession();
            return;
        }
        failSafe(*error);
        return;
    }

    if (preset.kind == PresetKind::automatic) {
        resetSmartAutoState();
        logger_.notice("smart auto engaged");
    } else {
        curves_.clear();
        for (const auto& fan : fans_) {
            curves_.insert_or_assign(fan.index, freshCurve(preset, fan.index));
        }
    }
    std::vector<int> enabling;
    for (const auto& fan : fans_) {
        if (controllableFanIndices_.contains(fan.index)) {
            enabling.push_back(fan.index);
        }
    }
    enableFans(preset, generation, std::move(enabling));
}

void AppModel::enableFans(const FanPreset& preset, std::uint64_t generation, std::vector<int> remaining) {
    if (generation != controlGeneration_) {
        return;
    }
    if (remaining.empty()) {
        finishActivation(preset, generation, std::nullopt);
        return;
    }
    const int fan = remaining.front();
    remaining.erase(remaining.begin());
    auto known = [this](int index) {
        return std::any_of(fans_.begin(), fans_.end(),
                           [&](const FanInfo& info) { return info.index == index; });
    };
    if (!known(fan)) {
        finishActivation(preset, generation, error(ClientFailure::abnormalPreflight));
        return;
    }
    helper_->setMode(fan, true,
                     onMain([this, preset, generation, fan, remaining](std::optional<nlohmann::json>,
                                                                       std::optional<XPCError> modeError) {
                         if (generation != controlGeneration_) {
                             return;
                         }
                         if (modeError) {
                             finishActivation(preset, generation, modeError);
                             return;
                         }
                         // The fold may have replaced the fan list while the mode write was out.
                         auto info = std::find_if(fans_.begin(), fans_.end(), [&](const FanInfo& candidate) {
                             return candidate.index == fan;
                         });
                         if (info == fans_.end()) {
                             finishActivation(preset, generation, error(ClientFailure::abnormalPreflight));
                             return;
                         }
                         const auto target = activationTarget(preset, *info);
                         if (preset.kind == PresetKind::automatic || isCurvePreset(preset)) {
                             logFanDecision(fan, target, "preset activation");
                         }
                         helper_->setTarget(
                             fan, target,
                             onMain([this, preset, generation, fan, target, remaining](
                                        std::optional<nlohmann::json>, std::optional<XPCError> targetError) {
                                 if (generation != controlGeneration_) {
                                     return;
                                 }
                                 if (targetError) {
                                     finishActivation(preset, generation, targetError);
                                     return;
                                 }
                                 lastTargets_[fan] = target;
                                 enableFans(preset, generation, remaining);
                             }));
                     }));
}

std::int64_t AppModel::activationTarget(const FanPreset& preset, const FanInfo& fan) {
    std::int64_t target = fan.minRPM;
    if (preset.kind == PresetKind::custom && preset.strategy != ControlStrategy::constantRPM) {
        const auto settings = preset.settings(fan.index);
        auto curve = curves_.find(fan.index);
        if (curve == curves_.end()) {
            curve = curves_.emplace(fan.index, freshCurve(preset, fan.index)).first;
        }
        target = curve->second.target(zoneTemperature(fan.index, settings.lowTemperature), lowest(fan),
                                      highest(fan));
    } else if (preset.kind == PresetKind::fullBlast || isConstantPreset(preset)) {
        target = preset.fixedTarget(fan).value_or(fan.minRPM);
    } else if (preset.kind == PresetKind::automatic) {
        target = SmartAutoDecision::targetRPM(zoneTemperature(fan.index, smartAutoFallbackTemperature),
                                              sustainedDieTemperature_, false, lowest(fan), highest(fan));
    }
    return criticalThermalOverrideActive_ ? fan.maxRPM : target;
}

void AppModel::finishActivation(const FanPreset& preset, std::uint64_t generation,
                                std::optional<XPCError> error) {
    if (generation != controlGeneration_ || activePreset_.id != preset.id) {
        return;
    }
    setBusy(false);
    if (error) {
        failSafe(*error);
        return;
    }
    presetPendingRestore_.reset();
    nextRestoreAttempt_ = distantPast;
    if (lastError_ != activeConflictMessage_) {
        if (lastError_) {
            logger_.notice("cleared resolved error after successful preset activation");
        }
        setLastError(std::nullopt);
    }
    rememberSelection(activePreset_);
    logger_.notice("remembered preset: " + preset.name);
    poll();
}

void AppModel::abandonOrphanSession() {
    if (!isBusy_ && helper_->sessionID()) {
        resetToAutomatic("abandoned control session", true, true);
    }
}

// ---- per-poll control -----------------------------------------------------------------------

void AppModel::runControlStep() {
    if (isCurvePreset(activePreset_)) {
        applyCurve();
    } else if (activePreset_.kind == PresetKind::automatic) {
        applySmartAuto();
    } else if (activePreset_.kind == PresetKind::fullBlast || isConstantPreset(activePreset_)) {
        reconcileFixedTargets();
    }
}

std::vector<FanInfo> AppModel::controlledFans() const {
    std::vector<FanInfo> controlled;
    if (!helper_->sessionID() || isBusy_) {
        return controlled;
    }
    for (const auto& fan : fans_) {
        if (controllableFanIndices_.contains(fan.index)) {
            controlled.push_back(fan);
        }
    }
    return controlled;
}

void AppModel::applyCurve() {
    for (const auto& fan : controlledFans()) {
        const auto settings = activePreset_.settings(fan.index);
        const double zone = zoneTemperature(fan.index, settings.lowTemperature);
        auto curve = curves_.find(fan.index);
        if (curve == curves_.end()) {
            curve = curves_.emplace(fan.index, freshCurve(activePreset_, fan.index)).first;
        }
        const auto target = criticalThermalOverrideActive_
                                ? fan.maxRPM
                                : curve->second.target(zone, lowest(fan), highest(fan));
        writeIfNeeded(fan, target, "custom curve");
    }
}

void AppModel::reconcileFixedTargets() {
    for (const auto& fan : controlledFans()) {
        const auto target =
            criticalThermalOverrideActive_ ? fan.maxRPM : activePreset_.fixedTarget(fan).value_or(fan.minRPM);
        writeIfNeeded(fan, target, std::nullopt);
    }
}

void AppModel::applySmartAuto() {
    const auto fans = controlledFans();
    if (fans.empty()) {
        return;
    }
    const double seconds = now();
    const bool boosting = SmartAutoCurve::isBoosting(sustainedDieSamples_);
    if (boosting && !smartBoostActive_ && sustainedDieTemperature_) {
        logger_.notice(formatted("smart auto: predictive boost engaged (sustained die %f°C rising > %f°C/s)",
                                 *sustainedDieTemperature_, SmartAutoCurve::boostRatePerSecond));
    }
    smartBoostActive_ = boosting;
    const auto dieHeat =
        SmartAutoDecision::effectiveSustainedDieTemperature(sustainedDieTemperature_, boosting);

    for (const auto& fan : fans) {
        const double zone = zoneTemperature(fan.index, smartAutoFallbackTemperature);
        const double input = boosting ? SmartAutoCurve::nextTierTemperature(zone) : zone;

        const int tier = SmartAutoCurve::tier(zone);
        if (auto last = lastSmartTier_.find(fan.index);
            last != lastSmartTier_.end() && last->second != tier) {
            logger_.notice(formatted("smart auto: fan %ld tier %ld → %ld at %f°C",
                                     static_cast<long>(fan.index), static_cast<long>(last->second),
                                     static_cast<long>(tier), zone));
        }
        lastSmartTier_[fan.index] = tier;

        const auto desired = SmartAutoDecision::targetRPM(input, dieHeat, criticalThermalOverrideActive_,
                                                          lowest(fan), highest(fan));
        std::string reason = "smart auto";
        if (!criticalThermalOverrideActive_ &&
            SmartAutoDecision::floorDrivesDecision(input, dieHeat, lowest(fan), highest(fan))) {
            reason = "smart auto (die-heat floor)";
            auto drivers = fanControlDrivers_;
            drivers[fan.index] = "Sustained die heat";
            publish(Property::fanControlDrivers, fanControlDrivers_, std::move(drivers));
        }

        std::int64_t commanded = fan.minRPM;
        if (auto latest = targetWriteCoalescer_.latestTarget(fan.index)) {
            commanded = *latest;
        } else if (auto last = lastTargets_.find(fan.index); last != lastTargets_.end()) {
            commanded = last->second;
        }
        auto& rampDown = smartRampDown_.try_emplace(fan.index).first->second;
        const auto next = rampDown.nextTarget(desired, commanded, seconds, SmartAutoCurve::stepDownDelay,
                                              SmartAutoCurve::stepDownRPM);
        if (next != commanded) {
            if (next < commanded) {
                logger_.notice(formatted("smart auto: fan %ld steps down to %lld RPM after cooldown hold",
                                         static_cast<long>(fan.index), static_cast<long long>(next)));
            }
            logFanDecision(fan.index, next, reason);
            requestTarget(fan.index, next);
        } else if (SmartAutoDecision::needsReassertion(commanded, fan.targetRPM)) {
            logFanDecision(fan.index, commanded, "target readback reassertion");
            requestTarget(fan.index, commanded);
        }
        logZoneDriverChange(fan.index, next);
    }
}

void AppModel::writeIfNeeded(const FanInfo& fan, std::int64_t target,
                             const std::optional<std::string>& reason) {
    std::int64_t requested = -1000;
    if (auto latest = targetWriteCoalescer_.latestTarget(fan.index)) {
        requested = *latest;
    } else if (auto last = lastTargets_.find(fan.index); last != lastTargets_.end()) {
        requested = last->second;
    }
    const std::int64_t readBack = fan.targetRPM.value_or(-1000);
    if (std::llabs(requested - target) < deadbandRPM && std::llabs(readBack - target) < deadbandRPM) {
        return;
    }
    if (reason) {
        logFanDecision(fan.index, target, *reason);
    }
    requestTarget(fan.index, target);
}

void AppModel::requestTarget(int fan, std::int64_t target) {
    if (auto immediate = targetWriteCoalescer_.request(fan, target)) {
        sendTarget(fan, *immediate);
    }
}

void AppModel::sendTarget(int fan, std::int64_t target) {
    const auto generation = controlGeneration_;
    helper_->setTarget(
        fan, target,
        onMain([this, generation, fan, target](std::optional<nlohmann::json>, std::optional<XPCError> error) {
            if (generation != controlGeneration_) {
                return;
            }
            const auto next = targetWriteCoalescer_.complete(fan, !error);
            if (error) {
                failSafe(*error);
                return;
            }
            lastTargets_[fan] = target;
            if (next) {
                sendTarget(fan, *next);
            }
        }));
}

void AppModel::logFanDecision(int fan, std::int64_t target, const std::string& reason) {
    auto zone = zoneReadings_.find(fan);
    if (zone == zoneReadings_.end()) {
        return;
    }
    const auto& reading = zone->second;
    std::string keys;
    for (const auto& key : reading.contributingKeys) {
        keys += (keys.empty() ? "" : ",") + key;
    }
    auto filtered = fanControlTemperatures_.find(fan);
    const double filteredValue =
        filtered != fanControlTemperatures_.end() ? filtered->second : reading.temperature;
    const std::string sustained =
        sustainedDieTemperature_ ? formatted("%.2f", *sustainedDieTemperature_) : std::string("n/a");
    logger_.notice(formatted("fan-zone decision fan=%ld zone=%s driver=%s keys=%s raw=%f°C filtered=%f°C "
                             "sustainedDie=%s°C target=%lldRPM reason=%s",
                             static_cast<long>(fan), reading.zoneName.c_str(), reading.driver.c_str(),
                             keys.c_str(), reading.temperature, filteredValue, sustained.c_str(),
                             static_cast<long long>(target), reason.c_str()));
    lastLoggedZoneDriver_[fan] = reading.driver;
}

void AppModel::logZoneDriverChange(int fan, std::int64_t target) {
    auto zone = zoneReadings_.find(fan);
    if (zone == zoneReadings_.end()) {
        return;
    }
    auto logged = lastLoggedZoneDriver_.find(fan);
    if (logged == lastLoggedZoneDriver_.end() || logged->second != zone->second.driver) {
        logFanDecision(fan, target, "zone source changed");
    }
}

// ---- failures and hand-back -----------------------------------------------------------------

void AppModel::failSafe(const XPCError& error) {
    if (HelperXPCError::isInvalidSession(error)) {
        handleSessionLoss(error);
        return;
    }
    applyCompetingController(detectCompetingController());
    const std::string description = error.what();
    if (isHelperError(error, HelperXPCError::Code::controlUnavailable) && competingController_) {
        const auto text = activeConflictMessage_.value_or(description);
        setLastError(text);
        nextRestoreAttempt_ = distantFuture;
        resetToAutomatic(text, true, true);
        return;
    }
    setLastError(description);
    nextRestoreAttempt_ = now() + restoreRetryDelay;
    resetToAutomatic(description, true, true);
}

void AppModel::handleSessionLoss(const XPCError& error) {
    if (!helper_->sessionID()) {
        return;
    }
    logger_.notice(formatted("control session lost (%s); re-establishing automatically", error.what()));
    ++controlGeneration_;
    targetWriteCoalescer_.reset();
    setBusy(false);
    lastTargets_.clear();
    controllableFanIndices_.clear();
    resetSmartAutoState();
    if (activePreset_.kind != PresetKind::system) {
        presetPendingRestore_ = activePreset_;
        nextRestoreAttempt_ = distantPast;
    }
    helper_->endSession();
}

void AppModel::resetToAutomatic(const std::string& reason, bool preservingSelection, bool resumePolling,
                                std::function<void()> completion) {
    ++controlGeneration_;
    targetWriteCoalescer_.reset();
    if (preservingSelection) {
        if (activePreset_.kind != PresetKind::system) {
            presetPendingRestore_ = activePreset_;
        }
    } else {
        publish(Property::activePreset, activePreset_, FanPreset::systemDefault);
        presetPendingRestore_.reset();
        rememberSelection(FanPreset::systemDefault);
    }
    lastTargets_.clear();
    curves_.clear();
    controllableFanIndices_.clear();
    resetSmartAutoState();
    logger_.notice("smart control disengaged: " + reason);

    if (!helper_->sessionID()) {
        setBusy(false);
        if (completion) {
            completion();
        }
        return;
    }
    setBusy(true);
    helper_->resetAll(onMain([this, preservingSelection, resumePolling,
                              completion](std::optional<nlohmann::json>, std::optional<XPCError> resetError) {
        helper_->endSession(onMain([this, preservingSelection, resumePolling, completion,
                                    resetError](std::optional<XPCError> endError) {
            setBusy(false);
            const auto error = resetError ? resetError : endError;
            if (!error && !preservingSelection) {
                setLastError(std::nullopt);
            }
            if (error && !HelperXPCError::isInvalidSession(*error)) {
                setLastError(std::string(error->what()));
            }
            if (resumePolling) {
                poll();
            }
            if (completion) {
                completion();
            }
        }));
    }));
}

void AppModel::restoreRememberedPresetIfReady() {
    if (!presetPendingRestore_ || fanControlOwnership_ != FanControlOwnership::quorvane ||
        powerLifecycle_.isSleeping() || isTerminating_ || competingController_ ||
        now() < nextRestoreAttempt_ || helper_->sessionID() || fans_.empty() || !thermalControlSupported_ ||
        isBusy_ || !supervisedTestPassed_ || helperState_ != HelperInstallState::enabled) {
        return;
    }
    const auto pending = *presetPendingRestore_;
    presetPendingRestore_.reset();
    logger_.notice("restoring remembered preset: " + pending.name);
    activate(pending, true);
}

// ---- termination ----------------------------------------------------------------------------

void AppModel::prepareForTermination(std::function<void()> completion) {
    if (terminated_) {
        if (completion) {
            completion();
        }
        return;
    }
    if (completion) {
        terminationCompletions_.push_back(std::move(completion));
    }
    // A second request while the hand-back runs only waits for it.
    if (isTerminating_) {
        return;
    }
    isTerminating_ = true;
    cancelPollTimer();
    stopConflictMonitor();
    powerLifecycle_.invalidatePendingPolls();
    pollRequested_ = false;
    resetToAutomatic("application termination", true, false, [this] { finishTermination(); });
}

void AppModel::finishTermination() {
    helper_->invalidate();
    telemetry_->close();
    terminated_ = true;
    auto completions = std::move(terminationCompletions_);
    terminationCompletions_.clear();
    for (auto& completion : completions) {
        completion();
    }
}

} // namespace quorvane
