#include "EngineFixture.hpp"

#include <gmock/gmock.h>

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using testing::EngineFixture;
using ::testing::IsEmpty;
using testing::messageOf;
using ::testing::Not;

using Stage = HelperControlEngine::FirstRunStage;

// ---- start-up ------------------------------------------------------------------------------

TEST_F(EngineFixture, StartupReturnsFansLeftInManualToTheSystem) {
    crashLeavingFanZeroManual();
    ASSERT_EQ(byte("F0Md"), 1);
    start();
    EXPECT_EQ(byte("Ftst"), 0);
    EXPECT_EQ(byte("F0Md"), 0);
    EXPECT_THAT(logs.messagesContaining("reset all requested"),
                ElementsAre("reset all requested: helper startup/crash recovery"));
    EXPECT_EQ(scheduler.period, 2000);
    EXPECT_FALSE(engine->capabilityVerified());
}

// Skipped only while the other utility or owner remains: the next session, or the first idle tick
// after it has gone, hands back what the last helper left out.
TEST_F(EngineFixture, StartupRecoveryWaitsForACompetitorOrAForeignOwnerToGo) {
    crashLeavingFanZeroManual();
    competitorAppears();
    startVerified();
    scheduler.tick();
    scheduler.runPending();
    EXPECT_EQ(byte("F0Md"), 1);
    EXPECT_THAT(
        logs.messagesContaining("startup recovery skipped"),
        ElementsAre("startup recovery skipped: competing controller mbpfan pid=4242 path=/usr/sbin/mbpfan"));
    processes.processes.clear();
    EXPECT_NO_THROW(engine->beginSession("A"));
    engine->endSession("A");

    engine.reset();
    crashLeavingFanZeroManual();
    FanControlProcessLock foreign(paths.controlLock);
    foreign.acquire("Quorvane session other");
    start();
    scheduler.tick();
    scheduler.runPending();
    EXPECT_EQ(byte("F0Md"), 1);
    EXPECT_THAT(logs.messagesContaining("startup recovery skipped: Quorvane session other pid="),
                Not(IsEmpty()));
    foreign.release();
    scheduler.tick();
    scheduler.runPending();
    EXPECT_EQ(byte("F0Md"), 0);
}

// ---- sessions and the lease ------------------------------------------------------------------

TEST_F(EngineFixture, SessionLatchesTheUnlockAndHoldsTheLock) {
    start();
    const auto reply = engine->beginSession("A");
    EXPECT_EQ(reply.fanTestMode, 0);
    EXPECT_EQ(reply.fans.size(), 2u);
    EXPECT_EQ(byte("Ftst"), 1);
    FanControlProcessLock other(paths.controlLock);
    EXPECT_THROW(other.acquire("other"), FanControlProcessLockError);
    EXPECT_EQ(messageOf([&] { engine->beginSession("A"); }), "Another control session is active");
    EXPECT_THAT(logs.messagesContaining("key=Ftst"),
                ElementsAre("key=Ftst value=1 result=success detail=write sent; async application expected"));

    engine->endSession("A");
    EXPECT_NO_THROW(other.acquire("other"));
}

TEST_F(EngineFixture, LeaseExpiresAfterTwelveSecondsOfSilence) {
    start();
    engine->beginSession("A");
    clock.advance(11900);
    scheduler.tick();
    engine->heartbeat("A");
    clock.advance(12100);
    scheduler.tick();
    EXPECT_EQ(engine->activeSession(), std::nullopt);
    EXPECT_THAT(logs.messagesContaining("watchdog lease"),
                ElementsAre("watchdog lease expired; reverting all fans to Automatic"));
    EXPECT_EQ(messageOf([&] { engine->heartbeat("A"); }), "The helper control session is invalid or expired");
    EXPECT_NO_THROW(engine->beginSession("B"));
}

// A caller that sends no session identifier must never reach the fans.
TEST_F(EngineFixture, EmptySessionIdentifierCanOpenButNeverAct) {
    startVerified();
    engine->beginSession("");
    EXPECT_EQ(messageOf([&] { engine->heartbeat(""); }), "The helper control session is invalid or expired");
    EXPECT_EQ(messageOf([&] { engine->setMode(0, true, ""); }),
              "The helper control session is invalid or expired");
}

TEST_F(EngineFixture, PreflightNeedsSystemManagedFansAndAClearUnlock) {
    start();
    setByte("F1Md", 1);
    EXPECT_EQ(messageOf([&] { engine->beginSession("A"); }),
              "Fan preflight is abnormal: fan 1 is not in a recognized system-managed mode");
    FanControlProcessLock probe(paths.controlLock);
    EXPECT_NO_THROW(probe.acquire("probe"));
    probe.release();

    setByte("F1Md", 0);
    setByte("Ftst", 1);
    EXPECT_EQ(messageOf([&] { engine->beginSession("A"); }),
              "Fan preflight is abnormal: Ftst is nonzero before session start");
    setByte("Ftst", 0);
    EXPECT_NO_THROW(engine->beginSession("A"));
}

// Every way a session ends hands every fan back; a disconnect only ends the session it belongs to.
enum class Exit { sessionEnd, disconnect, leaseExpiry, competitor, shutdown, uninstall };

class EngineExitTest : public EngineFixture, public ::testing::WithParamInterface<Exit> {};

TEST_P(EngineExitTest, HandsEveryFanBack) {
    startVerified();
    engine->beginSession("A");
    engine->setMode(0, true, "A");
    engine->setMode(1, true, "A");
    switch (GetParam()) {
    case Exit::sessionEnd:
        engine->endSession("A");
        break;
    case Exit::disconnect:
        engine->clientDisconnected(std::nullopt);
        engine->clientDisconnected(std::string("B"));
        scheduler.runPending();
        ASSERT_EQ(engine->activeSession(), "A");
        engine->clientDisconnected(std::string("A"));
        break;
    case Exit::leaseExpiry:
        clock.advance(12100);
        scheduler.tick();
        break;
    case Exit::competitor:
        competitorAppears();
        scheduler.tick();
        break;
    case Exit::shutdown:
        engine->shutdown();
        break;
    case Exit::uninstall:
        engine->prepareForUninstall();
        EXPECT_FALSE(engine->capabilityVerified());
        EXPECT_FALSE(std::filesystem::exists(paths.capabilityMarker));
        EXPECT_THROW(FanControlProcessLock(paths.controlLock).acquire("other"), FanControlProcessLockError)
            << "the lock is kept until the helper exits";
        break;
    }
    scheduler.runPending();
    firmware.advanceToNow();
    EXPECT_EQ(engine->activeSession(), std::nullopt);
    EXPECT_EQ(byte("Ftst"), 0);
    EXPECT_NE(byte("F0Md"), 1);
    EXPECT_NE(byte("F1Md"), 1);
}

std::string exitName(const ::testing::TestParamInfo<Exit>& info) {
    static const char* const names[] = {"sessionEnd", "disconnect", "leaseExpiry",
                                        "competitor", "shutdown",   "uninstall"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Exits, EngineExitTest,
                         ::testing::Values(Exit::sessionEnd, Exit::disconnect, Exit::leaseExpiry,
                                           Exit::competitor, Exit::shutdown, Exit::uninstall),
                         exitName);

// ---- the supervised test --------------------------------------------------------------------

TEST_F(EngineFixture, SupervisedSequenceUnlocksEveryFanOnlyAfterItPasses) {
    start();
    engine->beginSession("A");
    EXPECT_EQ(messageOf([&] { engine->setMode(1, true, "A"); }),
              "Fan preflight is abnormal: other fans are locked until the supervised test passes");
    EXPECT_EQ(messageOf([&] { engine->setMode(0, false, "A"); }),
              "Fan preflight is abnormal: the supervised fan test must complete first");

    engine->setMode(0, true, "A");
    EXPECT_EQ(engine->firstRunStage(), Stage::fan0Manual);
    // The first target must rise above both the current target and the measured speed.
    firmware.setFloat(SMCKey::fromString("F0Tg"), 1200);
    firmware.setFloat(SMCKey::fromString("F0Ac"), 1300);
    EXPECT_EQ(messageOf([&] { engine->setTarget(0, 1250, "A"); }),
              "Fan preflight is abnormal: first target must be a non-decreasing supervised-fan test");
    engine->setTarget(0, 2000, "A");
    EXPECT_EQ(engine->firstRunStage(), Stage::fan0TargetVerified);
    clock.advance(3000);
    EXPECT_EQ(messageOf([&] { engine->setTarget(0, 2500, "A"); }),
              "Fan preflight is abnormal: first target must be a non-decreasing supervised-fan test");

    engine->resetAll(std::string("A"));
    EXPECT_TRUE(engine->capabilityVerified());
    EXPECT_EQ(engine->firstRunStage(), Stage::clean);
    std::ifstream marker(paths.capabilityMarker);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(marker), {}), "protocol=1\n");
    EXPECT_EQ(std::filesystem::status(paths.capabilityMarker).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0600));
    EXPECT_THAT(logs.messagesContaining("verified"),
                ElementsAre("supervised fan capability sequence verified"));

    engine->endSession("A");
    engine->beginSession("B");
    engine->setMode(1, true, "B");
    EXPECT_EQ(byte("F1Md"), 1);
}

TEST_F(EngineFixture, ResetAfterOnlyTheManualStepWritesNoMarker) {
    start();
    engine->beginSession("A");
    engine->setMode(0, true, "A");
    engine->resetAll(std::string("A"));
    EXPECT_FALSE(std::filesystem::exists(paths.capabilityMarker));
    EXPECT_EQ(engine->firstRunStage(), Stage::clean);
    EXPECT_EQ(engine->activeSession(), "A");
}

// ---- guarded writes -------------------------------------------------------------------------

TEST_F(EngineFixture, TargetsNeedManualModeAndLieWithinLiveBounds) {
    startVerified();
    engine->beginSession("A");
    firmware.setAutomaticTarget(0, 2000);
    clock.advance(3000);
    EXPECT_EQ(messageOf([&] { engine->setTarget(0, 3000, "A"); }),
              "Fan preflight is abnormal: fan 0 is not in manual mode");
    engine->setMode(0, true, "A");
    EXPECT_EQ(messageOf([&] { engine->setTarget(0, 1199, "A"); }),
              "Fan preflight is abnormal: target 1199 outside 1200...6900");
    EXPECT_NO_THROW(engine->setTarget(0, 1200, "A"));
    EXPECT_NO_THROW(engine->setTarget(0, 6900, "A"));
    EXPECT_EQ(messageOf([&] { engine->setTarget(0, 6901, "A"); }),
              "Fan preflight is abnormal: target 6901 outside 1200...6900");
    EXPECT_EQ(messageOf([&] { engine->setTarget(7, 3000, "A"); }),
              "The requested fan does not exist on this machine");
}

// An idle fan in Automatic fails the reading check, and so does a manual one over 10 % above its maximum.
TEST_F(EngineFixture, ReadingsOfAnIdleFanOrAboveTenPercentOverMaximumAreAbnormal) {
    startVerified();
    engine->beginSession("A");
    EXPECT_EQ(messageOf([&] { engine->setTarget(0, 3000, "A"); }),
              "Fan preflight is abnormal: fan 0 reported invalid bounds, actual, or target");
    engine->setMode(0, true, "A");
    engine->setTarget(0, 3000, "A");
    firmware.setFloat(SMCKey::fromString("F0Ac"), 7590); // 6900 x 1.1
    EXPECT_NO_THROW(engine->setTarget(0, 3000, "A"));
    firmware.setFloat(SMCKey::fromString("F0Ac"), 7591);
    EXPECT_EQ(messageOf([&] { engine->setTarget(0, 3000, "A"); }),
              "Fan preflight is abnormal: fan 0 reported invalid bounds, actual, or target");
}

TEST_F(EngineFixture, RejectedManualModeResetsEverythingAndSaysWhy) {
    startVerified();
    engine->beginSession("A");
    firmware.stickValue(SMCKey::fromString("F0Md"), 0);
    EXPECT_EQ(messageOf([&] { engine->setMode(0, true, "A"); }),
              "macOS rejected manual control for fan 0. Quorvane returned all fans to Apple Default. Wait a "
              "moment, "
              "then select the preset again.");
    EXPECT_THAT(logs.messagesContaining("reset all requested: manual mode rejected"), Not(IsEmpty()));
    EXPECT_EQ(byte("Ftst"), 0);
    EXPECT_EQ(engine->activeSession(), "A");
}

TEST_F(EngineFixture, ACompetitorBlocksWritesAndTheWatchdogEndsTheSession) {
    startVerified();
    engine->beginSession("A");
    engine->setMode(0, true, "A");
    // Only root can write fan keys: another user's mbpfan, or one that has exited, holds nothing back.
    competitorAppears();
    processes.statuses[4242] = ProcessStatus{1000, 1000, 1000, false};
    EXPECT_NO_THROW(engine->setTarget(0, 3000, "A"));
    processes.statuses[4242] = ProcessStatus{0, 0, 0, true};
    scheduler.tick();
    EXPECT_EQ(engine->activeSession(), "A");
    processes.statuses.clear();
    EXPECT_EQ(
        messageOf([&] { engine->setTarget(0, 3000, "A"); }),
        "mbpfan started another fan-control helper. Quorvane stopped writing and will return its session to "
        "Apple Default.");
    scheduler.tick();
    scheduler.runPending();
    EXPECT_EQ(
        messageOf([&] { engine->beginSession("B"); }),
        "mbpfan still has its privileged SMC helper running. Stop or uninstall that helper; Quorvane will "
        "automatically reapply your saved preset once it is gone.");
}

TEST_F(EngineFixture, ResetTriesEveryFanAndReportsTheFirstRealFailure) {
    startVerified();
    engine->beginSession("A");
    engine->setMode(0, true, "A");
    engine->setMode(1, true, "A");
    firmware.hideKey(SMCKey::fromString("F0Md"));
    firmware.injectTransient(SMCKey::fromString("F1Md"), 0x82, -1, FaultScope::writes);
    EXPECT_EQ(messageOf([&] { engine->endSession("A"); }),
              "SMC write failed: fan 1 automatic reset did not latch after transient SMC retries: write "
              "bytes failed "
              "for F1Md (SMC result 0x82)");
    EXPECT_EQ(engine->activeSession(), std::nullopt);
    EXPECT_EQ(byte("Ftst"), 0);
    FanControlProcessLock other(paths.controlLock);
    EXPECT_NO_THROW(other.acquire("other"));
}

// A fan the system takes back between the reset's mode check and its target write never shows the
// minimum target (standing in for that race: a target that never latches, and an earlier release).
TEST_F(EngineFixture, AResetStopsWaitingForAFanTheSystemHasTakenBack) {
    startVerified();
    engine->beginSession("A");
    engine->setMode(0, true, "A");
    firmware.setTargetNeverLatches(0, true);
    engine->resetAll(std::string("A"));
    const auto before = clock.nowMilliseconds();
    engine->endSession("A");
    EXPECT_LT(clock.nowMilliseconds() - before, 10'000);
    firmware.advanceToNow();
    EXPECT_EQ(byte("F0Md"), 3);
}

class FanlessEngineTest : public EngineFixture {
protected:
    FanlessEngineTest() : EngineFixture("Mac14,2") {}
};

TEST_F(FanlessEngineTest, StartsButRefusesSessions) {
    start();
    EXPECT_EQ(messageOf([&] { engine->beginSession("A"); }),
              "Unsupported fan hardware: no fans were detected on this machine");
    EXPECT_EQ(engine->status().fans.size(), 0u);
}

class UnlockFreeEngineTest : public EngineFixture {
protected:
    UnlockFreeEngineTest() : EngineFixture("Mac14,6") {}
};

TEST_F(UnlockFreeEngineTest, SessionsStartWithoutTheDiagnosticKey) {
    startVerified();
    const auto reply = engine->beginSession("A");
    EXPECT_EQ(reply.fanTestMode, std::nullopt);
    EXPECT_THAT(logs.messagesContaining("no Ftst"),
                ElementsAre("no Ftst diagnostic key on this hardware; manual control without the lock"));
    EXPECT_THAT(logs.messagesContaining("key=Ftst"), IsEmpty());
    engine->setMode(1, true, "A");
    EXPECT_EQ(byte("F1Md"), 1);
}

// Without "Ftst" a failed hand-back leaves a fan manual: it stays owed until a reset succeeds, on an
// idle tick (logged sparingly), before the next session's preflight, or at termination.
enum class SettledBy { idleTick, nextSession, shutdown };

class OwedHandBackTest : public UnlockFreeEngineTest, public ::testing::WithParamInterface<SettledBy> {};

TEST_P(OwedHandBackTest, AFailedHandBackIsRetriedUntilItSucceeds) {
    startVerified();
    engine->beginSession("A");
    engine->setMode(1, true, "A");
    firmware.injectTransient(SMCKey::fromString("F1Md"), 0x82, -1, FaultScope::writes);
    EXPECT_THROW(engine->endSession("A"), SMCError);
    for (int tick = 0; tick < 8; ++tick) {
        scheduler.tick();
        scheduler.runPending();
    }
    EXPECT_EQ(byte("F1Md"), 1);
    EXPECT_EQ(logs.messagesContaining("hand-back attempt").size(), 4u); // attempts 1, 2, 4 and 8
    firmware.clearFaults();
    switch (GetParam()) {
    case SettledBy::idleTick:
        scheduler.tick();
        scheduler.runPending();
        break;
    case SettledBy::nextSession:
        EXPECT_NO_THROW(engine->beginSession("B"));
        engine->endSession("B");
        break;
    case SettledBy::shutdown:
        engine->shutdown();
        break;
    }
    firmware.advanceToNow();
    EXPECT_NE(byte("F1Md"), 1);
}

std::string settledByName(const ::testing::TestParamInfo<SettledBy>& info) {
    static const char* const names[] = {"idleTick", "nextSession", "shutdown"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Ways, OwedHandBackTest,
                         ::testing::Values(SettledBy::idleTick, SettledBy::nextSession, SettledBy::shutdown),
                         settledByName);

// Without "Ftst" nothing else hands the fans back: the lock decides whether termination resets.
TEST_F(UnlockFreeEngineTest, AnExpiredSessionsQueuedResetNeverTakesTheLockFromTheNextSession) {
    startVerified();
    engine->beginSession("A");
    clock.advance(12100);
    scheduler.tick();
    engine->beginSession("B");
    scheduler.runPending();
    FanControlProcessLock other(paths.controlLock);
    EXPECT_THROW(other.acquire("other"), FanControlProcessLockError);
    other.release();

    engine->setMode(1, true, "B");
    engine->shutdown();
    firmware.advanceToNow();
    EXPECT_NE(byte("F1Md"), 1);
    EXPECT_THAT(logs.messagesContaining("reset all requested"),
                ElementsAre("reset all requested: helper startup/crash recovery",
                            "reset all requested: watchdog timeout",
                            "reset all requested: helper termination"));
}

} // namespace
} // namespace quorvane
