#include "PrivilegedHelper/HelperControlEngine.hpp"

#include "Helpers/CompetingFanControllerDetector.hpp"
#include "PrivilegedHelper/HelperError.hpp"
#include "SMC/SMCError.hpp"
#include "XPC/FanControlXPC.hpp"

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

namespace fs = std::filesystem;

constexpr const char* recoveryReason = "helper startup/crash recovery";
constexpr const char* retryReason = "hand-back retry";

std::string describe(const CompetingFanController& controller) {
    return controller.name + " pid=" + std::to_string(controller.processIdentifier) +
           " path=" + controller.executablePath;
}

bool isKeyNotFound(const std::exception& error) {
    const auto* smcError = dynamic_cast<const SMCError*>(&error);
    return smcError != nullptr && smcError->kind() == SMCError::Kind::keyNotFound;
}

// Keeps the first failure of a sequence that must run to its end.
class FirstError {
public:
    void remember(std::exception_ptr error) {
        if (!error_) {
            error_ = std::move(error);
        }
    }
    void rethrowIfAny() const {
        if (error_) {
            std::rethrow_exception(error_);
        }
    }
    explicit operator bool() const { return error_ != nullptr; }

private:
    std::exception_ptr error_;
};

// Temporary file, fsync, rename: a reader never sees a half-written marker.
void writeAtomically(const fs::path& path, const std::string& content) {
    const fs::path temporary = path.parent_path() / (path.filename().string() + ".tmp");
    const int descriptor =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        throw fs::filesystem_error("cannot write the capability marker", temporary,
                                   std::error_code(errno, std::generic_category()));
    }
    const ssize_t written = ::write(descriptor, content.data(), content.size());
    const bool synced = ::fsync(descriptor) == 0;
    const int writeError = errno;
    ::close(descriptor);
    if (written != static_cast<ssize_t>(content.size()) || !synced) {
        fs::remove(temporary);
        throw fs::filesystem_error("cannot write the capability marker", temporary,
                                   std::error_code(writeError, std::generic_category()));
    }
    fs::rename(temporary, path);
}

} // namespace

HelperControlEngine::HelperControlEngine(std::unique_ptr<SMCUserClient> transport, Clock& clock,
                                         ProcessTable& processes, EngineScheduler& scheduler,
                                         HelperEnginePaths paths)
    : clock_(clock), processes_(processes), scheduler_(scheduler), paths_(std::move(paths)),
      logger_(FanControlXPC::machServiceName, "SMCWrite"),
      processLock_(paths_.controlLock, paths_.controlLockOwnerUID) {
    smc_ = std::make_shared<IOKitSMCBridge>(
        std::move(transport), SMCWriteCapability::privilegedHelper,
        [logger = logger_](const SMCWriteAuditEvent& event) {
            logger.notice("key=" + event.key + " value=" + event.value +
                          " result=" + (event.succeeded ? "success" : "failure") + " detail=" + event.detail);
        });
    smc_->open();
    controller_ = std::make_unique<FanController>(smc_, clock_);
    capabilities_ = controller_->probeCapabilities();
    logger_.notice("hardware probe: " + std::to_string(capabilities_.fans.size()) +
                   " fan(s), diagnostic lock: " + (capabilities_.hasDiagnosticLock ? "true" : "false"));
    {
        std::lock_guard queue(queueMutex_);
        startupRecovery();
    }
    capabilityVerified_ = fs::exists(paths_.capabilityMarker);
    scheduler_.startRepeating(watchdogPeriodMilliseconds, [this] { watchdogTick(); });
}

HelperControlEngine::~HelperControlEngine() {
    scheduler_.stop();
    std::lock_guard queue(queueMutex_);
    handBackBeforeExit("helper deinit");
    forgetSession();
    processLock_.release();
    smc_->close();
}

// Whether some fan may still be out of the system's hands: a session, a revert not yet run, the
// lock still held (start-up recovery, uninstall preparation), or a hand-back still owed.
bool HelperControlEngine::controlMayBeOut() const {
    if (processLock_.isHeld()) {
        return true;
    }
    std::lock_guard lease(leaseMutex_);
    return activeSession_ || pendingRevert_ || owedHandBack_;
}

void HelperControlEngine::forgetSession() {
    std::lock_guard lease(leaseMutex_);
    activeSession_.reset();
    pendingRevert_.reset();
    owedHandBack_.reset();
}

// What this process controls is reset outright; a hand-back it merely owes yields, as it does on
// every tick, to another utility or another owner of the lock, which have the fans now.
void HelperControlEngine::handBackBeforeExit(const std::string& reason) {
    bool owesOnly = !processLock_.isHeld();
    {
        std::lock_guard lease(leaseMutex_);
        owesOnly = owesOnly && !activeSession_ && !pendingRevert_ && owedHandBack_;
    }
    if (owesOnly) {
        settleOwedHandBack(reason, false);
    } else if (controlMayBeOut()) {
        try {
            resetAllInternal(reason);
        } catch (const std::exception&) {
        }
    }
}

// The owed hand-back, unless another utility runs or another owner holds the lock. Runs with the
// control queue held and no session active.
HelperControlEngine::Settled HelperControlEngine::settleOwedHandBack(const std::string& reason, bool quiet) {
    {
        std::lock_guard lease(leaseMutex_);
        if (!owedHandBack_ || activeSession_ || pendingRevert_) {
            return Settled::nothingOwed;
        }
    }
    if (competitor()) {
        return Settled::yielded;
    }
    const bool took = !processLock_.isHeld();
    if (took) {
        try {
            processLock_.acquire(reason == recoveryReason ? "Quorvane startup recovery"
                                                          : "Quorvane hand-back");
        } catch (const FanControlProcessLockError&) {
            return Settled::yielded;
        }
    }
    Settled settled = Settled::done;
    try {
        resetAllInternal(reason, quiet);
    } catch (const std::exception& error) {
        settled = Settled::failed;
        lastRetryError_ = error.what();
    }
    if (took) {
        processLock_.release();
    }
    return settled;
}

// One idle tick's try. The log keeps the first attempts and then every doubling of their number.
void HelperControlEngine::retryOwedHandBack() {
    std::optional<std::string> reason;
    {
        std::lock_guard lease(leaseMutex_);
        reason = owedHandBack_;
    }
    if (!reason) {
        return;
    }
    if (failedRetries_ >= retriesOnEveryTick && ++ticksSinceRetry_ < ticksBetweenLateRetries) {
        return;
    }
    ticksSinceRetry_ = 0;
    const int failedBefore = failedRetries_;
    const int attempt = failedBefore + 1;
    const bool logged = (attempt & (attempt - 1)) == 0;
    switch (settleOwedHandBack(*reason, !logged)) {
    case Settled::failed:
        failedRetries_ = attempt;
        if (logged) {
            logger_.error("hand-back attempt " + std::to_string(attempt) + " failed: " + lastRetryError_ +
                          "; retrying on the watchdog");
        }
        break;
    case Settled::done:
        if (failedBefore > 0) {
            logger_.notice("hand-back completed after " + std::to_string(failedBefore) +
                           " failed attempt(s)");
        }
        break;
    case Settled::nothingOwed:
    case Settled::yielded:
        break;
    }
}

void HelperControlEngine::startupRecovery() {
    // Skipped only while the other utility or owner remains: the recovery stays owed.
    const auto owe = [this] {
        std::lock_guard lease(leaseMutex_);
        owedHandBack_ = recoveryReason;
    };
    if (auto running = competitor()) {
        logger_.error("startup recovery skipped: competing controller " + describe(*running));
        owe();
        return;
    }
    try {
        processLock_.acquire("Quorvane startup recovery");
    } catch (const FanControlProcessLockError& error) {
        if (error.kind() != FanControlProcessLockError::Kind::alreadyOwned) {
            throw;
        }
        logger_.error("startup recovery skipped: " +
                      error.owner().value_or("another Quorvane helper owns control"));
        owe();
        return;
    }
    try {
        resetAllInternal(recoveryReason);
    } catch (...) {
        processLock_.release();
        throw;
    }
    processLock_.release();
}

// ---- sessions -----------------------------------------------------------------------------

HelperReply HelperControlEngine::status() {
    std::lock_guard queue(queueMutex_);
    return snapshot(false);
}

HelperReply HelperControlEngine::beginSession(const std::string& sessionID) {
    std::lock_guard queue(queueMutex_);
    {
        std::lock_guard lease(leaseMutex_);
        if (activeSession_) {
            throw HelperError::busy();
        }
    }
    // An expired session's reset must finish, and its lock go, before another session takes over.
    finishPendingRevert();
    if (auto running = competitor()) {
        logger_.error("control denied: " + describe(*running));
        throw HelperError::controlUnavailable(
            running->name + " still has its privileged SMC helper running. " +
            "Stop or uninstall that helper; Quorvane will automatically reapply "
            "your saved preset once it is gone.");
    }
    try {
        processLock_.acquire("Quorvane session " + sessionID);
    } catch (const FanControlProcessLockError& error) {
        if (error.kind() != FanControlProcessLockError::Kind::alreadyOwned) {
            throw;
        }
        logger_.error("control denied by ownership lock: " + error.owner().value_or("unknown owner"));
        throw HelperError::controlUnavailable(
            "Another Quorvane helper already owns fan control. Quorvane is staying on Apple Default.");
    }
    std::optional<std::string> owed;
    {
        std::lock_guard lease(leaseMutex_);
        owed = owedHandBack_;
    }
    HelperReply reply;
    try {
        // What a skipped recovery or a failed hand-back left out goes back before the clean preflight.
        if (owed) {
            resetAllInternal(*owed);
        }
        reply = snapshot(true);
        acquireDiagnosticLock();
    } catch (...) {
        processLock_.release();
        throw;
    }
    {
        std::lock_guard lease(leaseMutex_);
        activeSession_ = sessionID;
    }
    touchLease();
    logger_.notice("control session started with exclusive Quorvane ownership");
    return reply;
}

void HelperControlEngine::heartbeat(const std::string& sessionID) {
    std::lock_guard queue(queueMutex_);
    requireSession(sessionID);
    touchLease();
}

void HelperControlEngine::requireSession(const std::string& sessionID) const {
    std::lock_guard lease(leaseMutex_);
    if (sessionID.empty() || !activeSession_ || *activeSession_ != sessionID) {
        throw HelperError::invalidSession();
    }
}

void HelperControlEngine::touchLease() {
    std::lock_guard lease(leaseMutex_);
    lastHeartbeat_ = clock_.nowMilliseconds();
}

void HelperControlEngine::endSession(const std::string& sessionID) {
    std::lock_guard queue(queueMutex_);
    requireSession(sessionID);
    std::exception_ptr resetError;
    try {
        resetAllInternal("session end");
    } catch (...) {
        resetError = std::current_exception();
    }
    {
        std::lock_guard lease(leaseMutex_);
        activeSession_.reset();
    }
    processLock_.release();
    logger_.notice("control session ended; ownership released");
    if (resetError) {
        std::rethrow_exception(resetError);
    }
}

void HelperControlEngine::clientDisconnected(const std::optional<std::string>& sessionID) {
    if (!sessionID) {
        return;
    }
    scheduler_.post([this, sessionID] {
        std::lock_guard queue(queueMutex_);
        {
            std::lock_guard lease(leaseMutex_);
            if (!activeSession_ || *activeSession_ != *sessionID) {
                return;
            }
        }
        endActiveSession("XPC disconnect");
    });
}

void HelperControlEngine::endActiveSession(const std::string& reason) {
    try {
        resetAllInternal(reason);
    } catch (const std::exception&) {
        // Nobody is left to tell.
    }
    {
        std::lock_guard lease(leaseMutex_);
        activeSession_.reset();
    }
    processLock_.release();
}

void HelperControlEngine::watchdogTick() {
    std::optional<std::string> watched;
    bool owed = false;
    {
        std::lock_guard lease(leaseMutex_);
        watched = activeSession_;
        owed = owedHandBack_.has_value();
    }
    if (!watched) {
        if (owed && !retryQueued_.exchange(true)) {
            scheduler_.post([this] {
                std::lock_guard queue(queueMutex_);
                retryQueued_ = false;
                retryOwedHandBack();
            });
        }
        return;
    }
    std::string reason;
    if (auto running = competitor()) {
        logger_.error("active-session conflict: " + describe(*running) + "; reverting to Automatic");
        reason = "competing controller appeared";
    }
    bool expired = false;
    {
        // Checked and cleared in one step, so a session that began meanwhile is never the one ended.
        std::lock_guard lease(leaseMutex_);
        if (activeSession_ != watched) {
            return;
        }
        if (reason.empty()) {
            const double silence =
                static_cast<double>(clock_.nowMilliseconds() - lastHeartbeat_.value_or(INT64_MIN / 2)) /
                1000.0;
            if (silence <= FanControlXPC::watchdogSeconds) {
                return;
            }
            reason = "watchdog timeout";
            expired = true;
        }
        activeSession_.reset();
        pendingRevert_ = reason;
    }
    if (expired) {
        logger_.error("watchdog lease expired; reverting all fans to Automatic");
    }
    scheduler_.post([this] {
        std::lock_guard queue(queueMutex_);
        finishPendingRevert();
    });
}

// The session was cleared at once; its reset and the lock's release run here, on the control queue,
// either from the posted task or from the next beginSession, whichever comes first. Never releases
// the lock under a session that is active.
void HelperControlEngine::finishPendingRevert() {
    std::optional<std::string> reason;
    {
        std::lock_guard lease(leaseMutex_);
        reason = std::exchange(pendingRevert_, std::nullopt);
        if (!reason || activeSession_) {
            return;
        }
    }
    try {
        resetAllInternal(*reason);
    } catch (const std::exception&) {
        // Nobody is left to tell.
    }
    processLock_.release();
}

std::optional<std::string> HelperControlEngine::activeSession() const {
    std::lock_guard lease(leaseMutex_);
    return activeSession_;
}

bool HelperControlEngine::capabilityVerified() const {
    std::lock_guard queue(queueMutex_);
    return capabilityVerified_;
}

HelperControlEngine::FirstRunStage HelperControlEngine::firstRunStage() const {
    std::lock_guard queue(queueMutex_);
    return firstRunStage_;
}

// ---- guarded writes --------------------------------------------------------------------------

std::optional<CompetingFanController> HelperControlEngine::competitor() {
    return CompetingFanControllerDetector::runningControllerDetails(
        processes_, CompetingFanControllerDetector::Scope::rootProcesses);
}

int HelperControlEngine::supervisedFan() const {
    return capabilities_.supervisedFanIndex().value_or(0);
}

void HelperControlEngine::rejectCompetingControllerIfPresent() {
    if (auto running = competitor()) {
        logger_.error("write blocked: " + describe(*running));
        throw HelperError::controlUnavailable(running->name +
                                              " started another fan-control helper. Quorvane "
                                              "stopped writing and will return its session to Apple "
                                              "Default.");
    }
}

void HelperControlEngine::validateFan(int fan) const {
    const auto capability = capabilities_.fan(fan);
    if (!capability) {
        throw HelperError::invalidFan();
    }
    if (!capability->isControllable()) {
        throw HelperError::unsupportedHardware("fan " + std::to_string(fan) +
                                               " is not controllable on this machine");
    }
    if (!capabilityVerified_ && fan != supervisedFan()) {
        throw HelperError::abnormalPreflight("other fans are locked until the supervised test passes");
    }
}

FanInfo HelperControlEngine::fanInfo(int fan, bool allowStoppedManual) {
    const auto capability = capabilities_.fan(fan);
    if (!capability || !capability->isControllable()) {
        throw HelperError::unsupportedHardware("fan " + std::to_string(fan) +
                                               " is not controllable on this machine");
    }
    const FanInfo info = controller_->getFanInfo(fan);
    const auto ceiling = static_cast<std::int64_t>(static_cast<double>(info.maxRPM) * 1.1);
    const bool boundsValid = info.minRPM >= 1 && info.minRPM < info.maxRPM;
    const bool actualValid = info.actualRPM >= 0 && info.actualRPM <= ceiling;
    const bool stoppedManual =
        allowStoppedManual && info.mode == FanMode::manual && info.actualRPM == 0 && info.targetRPM == 0;
    const bool spinning = info.actualRPM != 0 && info.targetRPM && *info.targetRPM >= info.minRPM &&
                          *info.targetRPM <= info.maxRPM;
    if (!boundsValid || !info.targetRPM || !actualValid || !(stoppedManual || spinning)) {
        throw HelperError::abnormalPreflight("fan " + std::to_string(fan) +
                                             " reported invalid bounds, actual, or target");
    }
    return info;
}

std::string HelperControlEngine::controlUnavailableMessage(int fan) {
    std::string message = "macOS rejected manual control for fan " + std::to_string(fan) +
                          ". Quorvane returned all fans to Apple Default.";
    if (auto running = competitor()) {
        message +=
            " The " + running->name +
            " background helper is running; stop or uninstall it. Quorvane will automatically reapply your "
            "saved preset once it is gone.";
    } else {
        message += " Wait a moment, then select the preset again.";
    }
    return message;
}

HelperReply HelperControlEngine::setMode(int fan, bool manual, const std::string& sessionID) {
    std::lock_guard queue(queueMutex_);
    requireSession(sessionID);
    rejectCompetingControllerIfPresent();
    touchLease();
    validateFan(fan);
    if (!capabilityVerified_ && (fan != supervisedFan() || !manual)) {
        throw HelperError::abnormalPreflight("the supervised fan test must complete first");
    }
    snapshot(false);
    try {
        controller_->setFanMode(fan, manual ? FanMode::manual : FanMode::automatic);
    } catch (const std::exception&) {
        if (!manual) {
            throw;
        }
        try {
            resetAllInternal("manual mode rejected");
        } catch (const std::exception&) {
        }
        throw HelperError::controlUnavailable(controlUnavailableMessage(fan));
    }
    if (!capabilityVerified_) {
        firstRunStage_ = FirstRunStage::fan0Manual;
    }
    touchLease();
    return snapshot(false);
}

HelperReply HelperControlEngine::setTarget(int fan, std::int64_t rpm, const std::string& sessionID) {
    std::lock_guard queue(queueMutex_);
    requireSession(sessionID);
    rejectCompetingControllerIfPresent();
    touchLease();
    validateFan(fan);
    const FanInfo info = fanInfo(fan, true);
    if (!capabilityVerified_ && (fan != supervisedFan() || firstRunStage_ != FirstRunStage::fan0Manual ||
                                 !info.targetRPM || rpm < *info.targetRPM || rpm <= info.actualRPM)) {
        throw HelperError::abnormalPreflight("first target must be a non-decreasing supervised-fan test");
    }
    if (info.mode != FanMode::manual) {
        throw HelperError::abnormalPreflight("fan " + std::to_string(fan) + " is not in manual mode");
    }
    if (rpm < info.minRPM || rpm > info.maxRPM) {
        throw HelperError::abnormalPreflight("target " + std::to_string(rpm) + " outside " +
                                             std::to_string(info.minRPM) + "..." +
                                             std::to_string(info.maxRPM));
    }
    controller_->setFanRPM(fan, rpm);
    if (!capabilityVerified_) {
        firstRunStage_ = FirstRunStage::fan0TargetVerified;
    }
    touchLease();
    return snapshot(false);
}

// ---- resets ---------------------------------------------------------------------------------

HelperReply HelperControlEngine::resetAll(const std::optional<std::string>& sessionID) {
    std::lock_guard queue(queueMutex_);
    if (sessionID) {
        requireSession(*sessionID);
        touchLease();
    }
    const bool completesSupervisedTest =
        !capabilityVerified_ && firstRunStage_ == FirstRunStage::fan0TargetVerified;
    resetAllInternal("client request");
    HelperReply reply = snapshot(true);
    if (completesSupervisedTest) {
        persistCapabilityMarker();
        capabilityVerified_ = true;
        logger_.notice("supervised fan capability sequence verified");
    }
    firstRunStage_ = FirstRunStage::clean;
    return reply;
}

void HelperControlEngine::resetAllInternal(const std::string& reason, bool quiet) {
    if (!quiet) {
        logger_.notice("reset all requested: " + reason);
    }
    std::vector<int> fans = capabilities_.fanIndices();
    if (fans.empty()) {
        fans = {0, 1};
    }
    FirstError failure;
    for (int fan : fans) {
        try {
            controller_->resetToAuto(fan);
        } catch (const std::exception& error) {
            if (!isKeyNotFound(error)) {
                failure.remember(std::current_exception());
            }
        }
    }
    for (int fan : fans) {
        const auto capability = capabilities_.fan(fan);
        if (!capability || !capability->canSetTarget) {
            continue;
        }
        try {
            if (smc_->readKey(SMCKey::fan(fan, "Md")).asUInt8() == 3) {
                continue;
            }
            const auto minimum = static_cast<float>(smc_->readFanRPM(SMCKey::fan(fan, "Mn")));
            smc_->writeKeyUnverified(SMCKey::fan(fan, "Tg"), SMCValue::float32(minimum));
            awaitMinimumTarget(fan, minimum);
        } catch (const std::exception& error) {
            if (!isKeyNotFound(error)) {
                failure.remember(std::current_exception());
            }
        }
    }
    std::exception_ptr releaseError;
    try {
        releaseDiagnosticLock();
    } catch (...) {
        releaseError = std::current_exception();
    }
    {
        // A failed reset leaves the hand-back owed; the first one that succeeds settles it.
        std::lock_guard lease(leaseMutex_);
        if (failure || releaseError) {
            owedHandBack_ = retryReason;
        } else {
            owedHandBack_.reset();
            failedRetries_ = 0;
            ticksSinceRetry_ = 0;
        }
    }
    failure.rethrowIfAny();
    if (releaseError) {
        std::rethrow_exception(releaseError);
    }
}

// The system can take the fan back (mode 3) between the mode check and the write; its own curve
// then sets the target, which never shows the minimum, so the wait ends there instead of holding
// the control queue for the whole latch time.
void HelperControlEngine::awaitMinimumTarget(int fan, float minimum) {
    const auto deadline =
        clock_.nowMilliseconds() + static_cast<std::int64_t>(FanController::verificationTimeout * 1000.0);
    const double oneRead = SMCInterface::waitPollIntervalMilliseconds / 1000.0;
    while (clock_.nowMilliseconds() < deadline) {
        bool systemHolds = false;
        try {
            systemHolds = smc_->readKey(SMCKey::fan(fan, "Md")).asUInt8() == 3;
        } catch (const std::exception&) {
            // A failed read is just another miss while waiting.
        }
        if (systemHolds || smc_->waitForFloat(SMCKey::fan(fan, "Tg"), minimum, FanController::targetTolerance,
                                              oneRead, clock_)) {
            return;
        }
    }
}

HelperReply HelperControlEngine::snapshot(bool requireCleanModes) {
    if (requireCleanModes && capabilities_.fans.empty()) {
        throw HelperError::unsupportedHardware("no fans were detected on this machine");
    }
    HelperReply reply;
    reply.protocolVersion = FanControlXPC::protocolVersion;
    if (capabilities_.hasDiagnosticLock) {
        const auto flag = smc_->readKey(SMCKey::fanTestMode).asUInt8();
        if (!flag) {
            throw HelperError::abnormalPreflight("Ftst is unreadable");
        }
        if (*flag >= 2) {
            throw HelperError::abnormalPreflight("Ftst is abnormal (" + std::to_string(*flag) + ")");
        }
        if (*flag == 1 && requireCleanModes) {
            throw HelperError::abnormalPreflight("Ftst is nonzero before session start");
        }
        reply.fanTestMode = *flag;
    }
    for (const auto& capability : capabilities_.fans) {
        if (requireCleanModes) {
            const auto mode = smc_->readKey(SMCKey::fan(capability.index, "Md")).asUInt8();
            if (!mode || !isSystemManaged(*mode)) {
                throw HelperError::abnormalPreflight("fan " + std::to_string(capability.index) +
                                                     " is not in a recognized system-managed mode");
            }
        }
        FanInfo info;
        try {
            info = controller_->getFanInfo(capability.index);
        } catch (const std::exception& error) {
            if (requireCleanModes) {
                throw;
            }
            logger_.error("snapshot omitted fan " + std::to_string(capability.index) + ": " + error.what());
            continue;
        }
        reply.fans.push_back(HelperFanStatus{info.index, static_cast<int>(rawValue(info.mode)),
                                             info.actualRPM, info.minRPM, info.maxRPM, info.targetRPM,
                                             capability.isControllable()});
    }
    if (requireCleanModes) {
        for (const auto& fan : reply.fans) {
            if (fan.mode != 0) {
                throw HelperError::abnormalPreflight("all fans must begin in Automatic");
            }
        }
    }
    return reply;
}

// ---- the diagnostic unlock and the supervised test ------------------------------------------------

void HelperControlEngine::acquireDiagnosticLock() {
    if (!capabilities_.hasDiagnosticLock) {
        logger_.notice("no Ftst diagnostic key on this hardware; manual control without the lock");
        return;
    }
    if (smc_->readKey(SMCKey::fanTestMode).asUInt8() == 1) {
        return;
    }
    const std::int64_t written = clock_.nowMilliseconds();
    smc_->writeKeyUnverified(SMCKey::fanTestMode, SMCValue::uint8(1));
    if (smc_->waitForUInt8(SMCKey::fanTestMode, 1, diagnosticLockTimeout, clock_)) {
        const std::int64_t elapsed = clock_.nowMilliseconds() - written;
        if (elapsed < 500) {
            clock_.sleepFor(500 - elapsed);
        }
        return;
    }
    smc_->writeKeyUnverified(SMCKey::fanTestMode, SMCValue::uint8(1));
    if (!smc_->waitForUInt8(SMCKey::fanTestMode, 1, diagnosticLockTimeout, clock_)) {
        throw HelperError::abnormalPreflight("diagnostic unlock (Ftst) did not latch");
    }
    clock_.sleepFor(500);
}

void HelperControlEngine::releaseDiagnosticLock() {
    if (!capabilities_.hasDiagnosticLock) {
        return;
    }
    if (smc_->readKey(SMCKey::fanTestMode).asUInt8() == 0) {
        return;
    }
    smc_->writeKeyUnverified(SMCKey::fanTestMode, SMCValue::uint8(0));
    if (!smc_->waitForUInt8(SMCKey::fanTestMode, 0, diagnosticLockTimeout, clock_)) {
        throw HelperError::abnormalPreflight("Ftst did not clear within 12s");
    }
}

void HelperControlEngine::persistCapabilityMarker() {
    const fs::path directory = paths_.capabilityMarker.parent_path();
    if (!directory.empty() && !fs::exists(directory)) {
        fs::create_directories(directory);
        fs::permissions(directory, fs::perms(0755));
    }
    writeAtomically(paths_.capabilityMarker,
                    "protocol=" + std::to_string(FanControlXPC::protocolVersion) + "\n");
    fs::permissions(paths_.capabilityMarker, fs::perms::owner_read | fs::perms::owner_write);
}

void HelperControlEngine::prepareForUninstall() {
    std::lock_guard queue(queueMutex_);
    finishPendingRevert();
    const bool alreadyHeld = processLock_.isHeld();
    if (!alreadyHeld) {
        try {
            processLock_.acquire("Quorvane uninstall");
        } catch (const FanControlProcessLockError& error) {
            if (error.kind() == FanControlProcessLockError::Kind::alreadyOwned) {
                throw HelperError::busy();
            }
            throw;
        }
    }
    const auto releaseIfTaken = [&] {
        if (!alreadyHeld) {
            processLock_.release();
        }
    };
    try {
        resetAllInternal("helper uninstall");
        {
            std::lock_guard lease(leaseMutex_);
            activeSession_.reset();
        }
        firstRunStage_ = FirstRunStage::clean;
        fs::remove(paths_.capabilityMarker);
    } catch (...) {
        releaseIfTaken();
        throw;
    }
    capabilityVerified_ = false;
    releaseIfTaken();
}

void HelperControlEngine::shutdown() {
    std::lock_guard queue(queueMutex_);
    handBackBeforeExit("helper termination");
    forgetSession();
    processLock_.release();
    smc_->close();
}

} // namespace quorvane
