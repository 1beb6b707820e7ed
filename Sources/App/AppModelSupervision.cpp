#include "App/AppModel.hpp"
#include "App/SessionPreflight.hpp"
#include "App/TextFormat.hpp"
#include "Helpers/CompetingFanControllerDetector.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace quorvane {

namespace {

constexpr std::int64_t testRaiseRPM = 500;

} // namespace

// ---- supervised fan test --------------------------------------------------------------------

void AppModel::runSupervisedFan0Test(Finished finished) {
    const auto refuse = [&](std::string sentence, bool shown) {
        if (shown) {
            setLastError(sentence);
        }
        if (finished) {
            finished(std::move(sentence));
        }
    };
    if (fanControlOwnership_ != FanControlOwnership::quorvane) {
        return refuse("Quorvane is in monitoring-only mode. Change fan-control ownership in Settings before "
                      "running the write test.",
                      true);
    }
    if (!thermalControlSupported_) {
        return refuse("The supervised write test is unavailable because this Mac's fan topology has not been "
                      "hardware-validated. Monitoring remains available.",
                      true);
    }
    if (helperState_ != HelperInstallState::enabled) {
        return refuse("Approve the helper before running the supervised fan test.", false);
    }
    if (isBusy_ || powerLifecycle_.isSleeping() || isTerminating_) {
        return refuse(busyRefusal, false);
    }
    if (finished) {
        testFinished_.push_back(std::move(finished));
    }
    setBusy(true);
    setLastError(std::nullopt);
    helper_->beginSession(onMain([this](std::optional<nlohmann::json> reply, std::optional<XPCError> error) {
        handleTestSession(std::move(reply), std::move(error));
    }));
}

void AppModel::handleTestSession(std::optional<nlohmann::json> reply, std::optional<XPCError> error) {
    if (error) {
        finishFailedTest(*error);
        return;
    }
    std::optional<SupervisedFan> fan;
    if (reply && SessionPreflight::isClean(*reply)) {
        fan = SessionPreflight::testFan(*reply);
    }
    if (!fan) {
        finishFailedTest(AppModel::error(ClientFailure::abnormalPreflight));
        return;
    }
    const auto testTarget =
        std::min(fan->maximum, std::max({fan->minimum, fan->actual, fan->target}) + testRaiseRPM);
    if (testTarget < fan->target || testTarget <= fan->actual) {
        finishFailedTest(AppModel::error(ClientFailure::abnormalPreflight));
        return;
    }
    const int index = fan->index;
    helper_->setMode(
        index, true,
        onMain([this, index, testTarget](std::optional<nlohmann::json>, std::optional<XPCError> modeError) {
            if (modeError) {
                finishFailedTest(*modeError);
                return;
            }
            helper_->setTarget(
                index, testTarget,
                onMain([this](std::optional<nlohmann::json>, std::optional<XPCError> targetError) {
                    // Whatever the write did, every fan goes back before anything is judged.
                    helper_->resetAll(onMain([this, targetError](std::optional<nlohmann::json> resetReply,
                                                                 std::optional<XPCError> resetError) {
                        if (targetError || resetError) {
                            finishFailedTest(targetError ? *targetError : *resetError);
                            return;
                        }
                        if (!resetReply || !SessionPreflight::isClean(*resetReply)) {
                            finishFailedTest(AppModel::error(ClientFailure::resetUnverified));
                            return;
                        }
                        publish(Property::supervisedTestPassed, supervisedTestPassed_, true);
                        persist([&] { defaults_.setInteger("supervisedFanTestProtocolVersion", 1); });
                        setLastError(std::nullopt);
                        helper_->endSession();
                        setBusy(false);
                        poll();
                        reportTestOutcome(std::nullopt);
                    }));
                }));
        }));
}

void AppModel::finishFailedTest(const XPCError& failure) {
    helper_->resetAll(
        onMain([this, failure](std::optional<nlohmann::json>, std::optional<XPCError> resetError) {
            helper_->endSession(onMain([this, failure, resetError](std::optional<XPCError>) {
                const std::string sentence = resetError ? resetError->what() : failure.what();
                setLastError(sentence);
                setBusy(false);
                poll();
                reportTestOutcome(sentence);
            }));
        }));
}

void AppModel::reportTestOutcome(const std::optional<std::string>& failure) {
    for (auto& finished : std::exchange(testFinished_, {})) {
        finished(failure);
    }
}

// ---- helper registration --------------------------------------------------------------------

void AppModel::installHelper(Finished finished) {
    logger_.notice("installHelper invoked");
    // The system may ask the user for a password first: polling and control go on meanwhile.
    helper_->install(onMain([this, finished = std::move(finished)](std::optional<XPCError> error) {
        const auto state = helper_->installState();
        publish(Property::helperState, helperState_, state);
        if (error) {
            logger_.notice(
                formatted("helper register threw %s; state=%s", error->what(), rawValue(state).c_str()));
            if (state != HelperInstallState::requiresApproval) {
                setLastError(std::string(error->what()));
            }
        } else {
            logger_.notice(formatted("helper register returned; state=%s", rawValue(state).c_str()));
        }
        if (state == HelperInstallState::requiresApproval && openLoginItems_) {
            openLoginItems_();
        }
        if (finished) {
            finished(error && state != HelperInstallState::requiresApproval
                         ? std::optional<std::string>(error->what())
                         : std::nullopt);
        }
    }));
}

void AppModel::uninstallHelper() {
    resetToAutomatic("helper uninstall", false, true, [this] {
        helper_->uninstall(onMain([this](std::optional<XPCError> error) {
            publish(Property::helperState, helperState_, helper_->installState());
            setLastError(error ? std::optional<std::string>(error->what()) : std::nullopt);
        }));
    });
}

// ---- competing controllers ------------------------------------------------------------------

std::string AppModel::conflictMessage(const std::string& controllerName) const {
    return controllerName + "'s privileged SMC helper is still running. Open " + controllerName +
           " and use its uninstall/remove-helper option, or unload that service with administrator approval. "
           "Quorvane is keeping both fans on Apple Default and will automatically reapply " +
           activePreset_.name + " when the helper is gone.";
}

std::optional<std::string> AppModel::detectCompetingController() {
    if (auto running = CompetingFanControllerDetector::runningControllerDetails(processes_)) {
        return running->name;
    }
    return std::nullopt;
}

void AppModel::requestCompetingControllerScan() {
    if (competingControllerRefresh_.request()) {
        runCompetingControllerRefresh();
    }
}

void AppModel::runCompetingControllerRefresh() {
    auto deliver = onMain([this](std::optional<std::string> name) {
        applyCompetingController(name);
        if (competingControllerRefresh_.complete()) {
            runCompetingControllerRefresh();
        }
    });
    scanExecutor_.post([processes = &processes_, deliver] {
        std::optional<std::string> name;
        if (auto running = CompetingFanControllerDetector::runningControllerDetails(*processes)) {
            name = running->name;
        }
        deliver(name);
    });
}

void AppModel::setActiveConflictMessage(std::optional<std::string> message) {
    publish(Property::activeConflictMessage, activeConflictMessage_, std::move(message));
}

void AppModel::applyCompetingController(const std::optional<std::string>& name) {
    const bool ownsControl = fanControlOwnership_ == FanControlOwnership::quorvane;
    if (name == competingController_) {
        if (competingController_ && ownsControl) {
            startConflictMonitor();
        } else if (!ownsControl) {
            stopConflictMonitor();
        }
        return;
    }

    const auto previousMessage = activeConflictMessage_;
    auto dropConflictMessage = [&] {
        setActiveConflictMessage(std::nullopt);
        if (previousMessage && lastError_ == previousMessage) {
            setLastError(std::nullopt);
        }
    };

    if (name) {
        publish(Property::competingController, competingController_, name);
        logger_.error("competing fan controller detected: " + *name);
        if (!ownsControl) {
            stopConflictMonitor();
            dropConflictMessage();
            return;
        }
        startConflictMonitor();
        const auto message = conflictMessage(*name);
        setActiveConflictMessage(message);
        if (activePreset_.kind != PresetKind::system) {
            presetPendingRestore_ = activePreset_;
            nextRestoreAttempt_ = std::numeric_limits<double>::infinity();
            setLastError(message);
            if (helper_->sessionID()) {
                resetToAutomatic(message, true, true);
            }
        }
        return;
    }

    publish(Property::competingController, competingController_, std::optional<std::string>());
    stopConflictMonitor();
    logger_.notice("competing fan controller cleared; saved preset may resume");
    dropConflictMessage();
    nextRestoreAttempt_ = -std::numeric_limits<double>::infinity();
    if (ownsControl && activePreset_.kind != PresetKind::system) {
        presetPendingRestore_ = activePreset_;
    }
}

void AppModel::startConflictMonitor() {
    if (conflictTimer_ || powerLifecycle_.isSleeping() || isTerminating_) {
        return;
    }
    conflictTimer_ = main_.scheduleRepeating(conflictMonitorPeriodMilliseconds,
                                             [this, alive = std::weak_ptr<char>(lifetime_)] {
                                                 if (alive.lock()) {
                                                     requestCompetingControllerScan();
                                                 }
                                             });
}

void AppModel::stopConflictMonitor() {
    if (conflictTimer_) {
        main_.cancel(*conflictTimer_);
        conflictTimer_.reset();
    }
}

} // namespace quorvane
