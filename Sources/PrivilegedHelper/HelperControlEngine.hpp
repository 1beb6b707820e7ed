#pragma once

#include "Helpers/Clock.hpp"
#include "Helpers/FanControlProcessLock.hpp"
#include "Helpers/Logger.hpp"
#include "Helpers/ProcessTable.hpp"
#include "PrivilegedHelper/EngineScheduler.hpp"
#include "SMC/FanController.hpp"
#include "SMC/HardwareCapabilities.hpp"
#include "SMC/IOKitSMCBridge.hpp"
#include "XPC/HelperReply.hpp"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace quorvane {

struct CompetingFanController;

// Where the engine keeps its files; tests move them into temporary directories.
struct HelperEnginePaths {
    std::filesystem::path controlLock = FanControlProcessLock::defaultURL();
    // The control lock file must belong to this user (root) unless unset.
    std::optional<std::uint32_t> controlLockOwnerUID = 0;
    std::filesystem::path capabilityMarker = defaultCapabilityMarker();

    static std::filesystem::path defaultCapabilityMarker() {
        return "/var/lib/Orvalith/helper-capability-v1";
    }
};

// The only writer of fan keys: one exclusive session at a time on a heartbeat lease, guarded writes,
// a supervised first-run test, and one reset routine that every way out of control funnels into.
//
// Operations run synchronously and one at a time (the control queue is a mutex); resets after a
// disconnect or an expired lease are posted to the scheduler, and the lease watchdog ticks on its
// timer. Construction opens the SMC, probes, returns every fan to the system and starts the watchdog.
//
// A session is active only while this process holds the control lock: an expired session's queued
// reset finishes before the next session begins, so it can never release the lock under that one.
// Termination and destruction reset whenever a session, a pending revert or the lock remains.
//
// A hand-back is owed when start-up recovery had to yield (to another utility or another owner of
// the lock) or when any reset failed. It is retried on idle watchdog ticks and before the next
// session's preflight, and at termination, always yielding to another utility or owner; the first
// reset that succeeds settles it.
class HelperControlEngine {
public:
    enum class FirstRunStage { clean, fan0Manual, fan0TargetVerified };

    HelperControlEngine(std::unique_ptr<SMCUserClient> transport, Clock& clock, ProcessTable& processes,
                        EngineScheduler& scheduler, HelperEnginePaths paths = {});
    ~HelperControlEngine();
    HelperControlEngine(const HelperControlEngine&) = delete;
    HelperControlEngine& operator=(const HelperControlEngine&) = delete;

    HelperReply status();
    HelperReply beginSession(const std::string& sessionID);
    void heartbeat(const std::string& sessionID);
    HelperReply setMode(int fan, bool manual, const std::string& sessionID);
    HelperReply setTarget(int fan, std::int64_t rpm, const std::string& sessionID);
    HelperReply resetAll(const std::optional<std::string>& sessionID);
    void endSession(const std::string& sessionID);
    void prepareForUninstall();
    // From a connection's invalidation: ends that connection's session, if it is the active one.
    void clientDisconnected(const std::optional<std::string>& sessionID);
    // Termination: hands the fans back if this process holds control, then closes the SMC.
    void shutdown();

    // One lease check; the scheduler's timer calls it every two seconds.
    void watchdogTick();

    std::optional<std::string> activeSession() const;
    bool capabilityVerified() const;
    FirstRunStage firstRunStage() const;
    const HardwareCapabilities& capabilities() const { return capabilities_; }

    static constexpr std::int64_t watchdogPeriodMilliseconds = 2000;
    static constexpr double diagnosticLockTimeout = 12.0;
    // An owed hand-back is tried on every idle tick for a minute, then every 30 s: each attempt's
    // writes are audited, and a fan key that keeps refusing must not flood the log.
    static constexpr int retriesOnEveryTick = 30;
    static constexpr int ticksBetweenLateRetries = 15;

private:
    // Everything below runs with queueMutex_ held.
    HelperReply snapshot(bool requireCleanModes);
    // quiet: no "reset all requested" line (a retry whose attempt is not logged).
    void resetAllInternal(const std::string& reason, bool quiet = false);
    void awaitMinimumTarget(int fan, float minimum);
    void requireSession(const std::string& sessionID) const;
    void touchLease();
    void rejectCompetingControllerIfPresent();
    void validateFan(int fan) const;
    FanInfo fanInfo(int fan, bool allowStoppedManual);
    std::string controlUnavailableMessage(int fan);
    void acquireDiagnosticLock();
    void releaseDiagnosticLock();
    void persistCapabilityMarker();
    void startupRecovery();
    void endActiveSession(const std::string& reason);
    void finishPendingRevert();
    bool controlMayBeOut() const;
    enum class Settled { nothingOwed, yielded, done, failed };
    Settled settleOwedHandBack(const std::string& reason, bool quiet);
    void retryOwedHandBack();
    void handBackBeforeExit(const std::string& reason);
    void forgetSession();
    std::optional<CompetingFanController> competitor();
    int supervisedFan() const;

    Clock& clock_;
    ProcessTable& processes_;
    EngineScheduler& scheduler_;
    HelperEnginePaths paths_;
    Logger logger_;
    std::shared_ptr<IOKitSMCBridge> smc_;
    FanControlProcessLock processLock_;
    std::unique_ptr<FanController> controller_;

    mutable std::mutex queueMutex_;
    mutable std::mutex leaseMutex_;
    std::optional<std::string> activeSession_;
    std::optional<std::int64_t> lastHeartbeat_;
    // The reason of a watchdog revert whose reset has not run yet; its session is already gone.
    std::optional<std::string> pendingRevert_;
    // The reason to give when the owed hand-back is next tried; none when nothing is owed.
    std::optional<std::string> owedHandBack_;
    // Set while a retry waits on the control queue, so slow retries never pile up behind each other.
    std::atomic<bool> retryQueued_ = false;

    // Retries of the owed hand-back that failed in a row, and idle ticks since the last one.
    int failedRetries_ = 0;
    int ticksSinceRetry_ = 0;
    std::string lastRetryError_;

    bool capabilityVerified_ = false;
    FirstRunStage firstRunStage_ = FirstRunStage::clean;
    HardwareCapabilities capabilities_;
};

} // namespace quorvane
