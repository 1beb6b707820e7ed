#include "App/AppModelFixture.hpp"
#include "App/SessionPreflight.hpp"
#include "XPC/HelperReplyKey.hpp"

namespace quorvane::testing {
namespace {

TEST_F(AppModelTest, supervisedTestUnlocksPresetsEndToEndOnTheSimulatedMac) {
    unverified();
    launchPolling();
    ASSERT_TRUE(model->thermalControlSupported());
    ASSERT_EQ(model->fans().size(), 2u);

    const auto quiet = curvePreset();
    activate(quiet);
    EXPECT_EQ(model->lastError(), "Approve the helper and complete the supervised fan test first.");
    EXPECT_FALSE(engine->activeSession());

    model->runSupervisedFan0Test();
    settle();
    EXPECT_TRUE(model->supervisedTestPassed());
    EXPECT_EQ(defaults.integer("supervisedFanTestProtocolVersion"), 1);
    EXPECT_TRUE(engine->capabilityVerified());
    EXPECT_FALSE(model->lastError());

    // The test's closing poll restores the preset that was refused before it.
    ASSERT_TRUE(engine->activeSession());
    EXPECT_TRUE(fanIsManual(0) && fanIsManual(1));
    EXPECT_EQ(PresetSelectionStore(defaults).savedPresetID(), quiet.id);
}

TEST_F(AppModelTest, aSupervisedTestWithoutRoomAboveTheFanFailsAndLeavesFansAutomatic) {
    unverified();
    firmware.setAutomaticTarget(0, 6900);
    clock.advance(60000);
    launchPolling();
    model->runSupervisedFan0Test();
    settle();
    EXPECT_EQ(model->lastError(), "The helper preflight contained an abnormal fan reading");
    EXPECT_FALSE(model->supervisedTestPassed());
    EXPECT_FALSE(model->isBusy());
    EXPECT_FALSE(fanIsManual(0));
    EXPECT_FALSE(engine->activeSession());
}

TEST(SessionPreflight, refusesDiagnosticModeManualFansAndIncompleteReplies) {
    const auto clean =
        nlohmann::json::parse(R"({"protocolVersion": 1, "fanCount": 2, "fanTestMode": 0, "fans": [
        {"index": 1, "mode": 0, "controllable": false}, {"index": 0, "mode": 0, "controllable": true}]})");
    EXPECT_TRUE(SessionPreflight::isClean(clean));
    EXPECT_EQ(SessionPreflight::controllableFans(clean), std::set<int>{0});
    auto testMode = clean;
    testMode["fanTestMode"] = 1;
    auto manual = clean;
    manual["fans"][1]["mode"] = 1;
    auto noCount = clean;
    noCount.erase("fanCount");
    auto flatManual = nlohmann::json{{"protocolVersion", 1}, {"fanCount", 2}, {"fan1Mode", 1}};
    for (const auto& reply : {testMode, manual, noCount, flatManual}) {
        EXPECT_FALSE(SessionPreflight::isClean(reply)) << reply.dump();
    }
    EXPECT_EQ(SessionPreflight::controllableFans(flatManual), std::nullopt);
    EXPECT_EQ(SessionPreflight::testFan(manual), std::nullopt) << "the lowest index lacks readings";
    auto complete = clean;
    complete["fans"][1].update({{"actual", 1200}, {"target", 1200}, {"minimum", 1000}, {"maximum", 1500}});
    EXPECT_EQ(SessionPreflight::testFan(complete), (SupervisedFan{0, 1200, 1200, 1000, 1500}));
}

TEST_F(AppModelTest, smartAutoWritesItsDecisionRaisesTheDieFloorAndStepsDownSlowly) {
    launch();
    feed(snapshot(70, 50));
    activate(FanPreset::automatic);
    ASSERT_TRUE(engine->activeSession());
    // 70 °C lies between the curve's 60 °C (35 %) and 75 °C (65 %) points: 55 % of 1200...6900 RPM.
    EXPECT_EQ(firmwareTarget(0), 4335);
    EXPECT_EQ(firmwareTarget(1), 1200);

    for (int poll = 0; poll < 3; ++poll) {
        main.advance(2000);
        feed(snapshot(70, 50, 96));
    }
    ASSERT_TRUE(model->sustainedDieTemperature());
    EXPECT_GT(firmwareTarget(1), 1200);
    EXPECT_EQ(model->fanControlDrivers().at(1), "Sustained die heat");

    // Cooling: the target holds for 30 s, then comes down by at most 500 RPM.
    const auto commanded = firmwareTarget(0);
    const auto cooledAt = clock.nowMilliseconds();
    while (firmwareTarget(0) == commanded && clock.nowMilliseconds() - cooledAt < 120000) {
        main.advance(2000);
        feed(snapshot(45, 50));
    }
    EXPECT_GE(clock.nowMilliseconds() - cooledAt, 30000);
    EXPECT_EQ(firmwareTarget(0), commanded - 500);
}

TEST_F(AppModelTest, criticalOverrideRunsEveryControlledFanAtMaximumWhateverThePreset) {
    controlling();
    ASSERT_LT(firmwareTarget(0), 6900);

    pollAndFeed(snapshot(60, 60, 106));
    ASSERT_TRUE(model->criticalThermalOverrideActive());
    EXPECT_EQ(firmwareTarget(0), 6900);
    EXPECT_EQ(firmwareTarget(1), 7450);

    // Switching presets keeps the session, and the new preset's target is the maximum too.
    activate(constantPreset(2000));
    EXPECT_FALSE(model->lastError());
    EXPECT_EQ(firmwareTarget(0), 6900);
    EXPECT_EQ(firmwareTarget(1), 7450);
}

TEST_F(AppModelTest, curveWritesOnlyOutsideTheDeadbandAndResendsALostTarget) {
    controlling();
    const auto writes = [&] {
        auto selectors = helperProcess->selectors();
        return std::count(selectors.begin(), selectors.end(), HelperSelector::setFanTargetRPM);
    };
    const auto before = writes();
    pollAndFeed(snapshot(60.2, 60.2));
    EXPECT_EQ(writes(), before) << "a few RPM of change is not worth a write";
    const auto target = firmwareTarget(0);
    firmware.setFloat(key(0, "Tg"), static_cast<float>(target + 60));
    pollAndFeed(snapshot(60, 60));
    EXPECT_EQ(writes(), before + 1) << "a read-back 60 RPM off is written again";
    EXPECT_EQ(firmwareTarget(0), target);
}

TEST_F(AppModelTest, sleepAndTerminationHandEveryFanBack) {
    controlling();
    EXPECT_TRUE(power.controlActive) << "sleep waits for the hand-back while the fans are controlled";

    std::optional<bool> manualWhenSleepWasLetGo;
    power.onControlActive = [&](bool active) {
        if (!active) {
            manualWhenSleepWasLetGo = fanIsManual(0) || fanIsManual(1);
        }
    };
    power.willSleep();
    settle();
    EXPECT_EQ(manualWhenSleepWasLetGo, false) << "sleep may go on only once every fan is automatic";
    EXPECT_FALSE(power.controlActive);
    EXPECT_FALSE(fanIsManual(0) || fanIsManual(1));
    EXPECT_FALSE(engine->activeSession());
    EXPECT_EQ(model->activePreset().name, "Quiet");
    model->activate(FanPreset::systemDefault);
    EXPECT_EQ(model->activePreset().name, "Quiet") << "nothing is activated while asleep";
    std::optional<std::string> testRefusal;
    model->runSupervisedFan0Test([&](std::optional<std::string> failure) { testRefusal = failure; });
    settle();
    EXPECT_EQ(testRefusal, AppModel::busyRefusal) << "no test runs while the machine goes to sleep";
    EXPECT_FALSE(engine->activeSession());
    EXPECT_EQ(main.timerCount(), 0u) << "no polls while asleep";

    power.didWake();
    settle();
    EXPECT_EQ(main.timerCount(), 1u) << "wake resumes polling";
    feed(snapshot(60, 60)); // the read started before the sleep is dropped
    EXPECT_FALSE(fanIsManual(0));
    feed(snapshot(60, 60));
    EXPECT_TRUE(fanIsManual(0) && fanIsManual(1));
    EXPECT_TRUE(power.controlActive) << "the restored preset holds sleep back again";

    int completions = 0;
    model->prepareForTermination([&] { ++completions; });
    model->prepareForTermination([&] { ++completions; });
    settle();
    EXPECT_EQ(completions, 2);
    EXPECT_FALSE(fanIsManual(0) || fanIsManual(1));
    EXPECT_FALSE(engine->activeSession());
    EXPECT_FALSE(power.controlActive);
    EXPECT_EQ(telemetry->closes, 1);
    EXPECT_EQ(logs.messagesContaining("smart control disengaged: application termination").size(), 1u);
    const auto reads = telemetry->readCount;
    model->poll();
    model->prepareForTermination([&] { ++completions; });
    settle();
    EXPECT_EQ(telemetry->readCount, reads);
    EXPECT_EQ(completions, 3) << "a late request is answered at once";
    testRefusal.reset();
    model->runSupervisedFan0Test([&](std::optional<std::string> failure) { testRefusal = failure; });
    settle();
    EXPECT_EQ(testRefusal, AppModel::busyRefusal) << "nor while quitting";
}

TEST_F(AppModelTest, aSessionOpenedForACalledOffActivationIsHandedBack) {
    launch();
    feed(snapshot(60, 60));
    model->activate(curvePreset());
    power.willSleep();
    main.runPending(); // the sleep is handled before the helper's answer arrives
    settle();
    EXPECT_FALSE(engine->activeSession());
    EXPECT_FALSE(model->helperClient().sessionID());

    power.didWake();
    settle();
    feed(snapshot(60, 60));
    EXPECT_TRUE(fanIsManual(0)) << "restore is not blocked by a forgotten session";
}

TEST_F(AppModelTest, rememberedPresetIsRestoredAtStartAndAfterTheSessionIsLost) {
    const auto quiet = remembered();

    launch();
    EXPECT_EQ(model->activePreset().id, quiet.id);
    feed(snapshot(60, 60));
    ASSERT_TRUE(fanIsManual(0));
    const auto firstSession = engine->activeSession();

    helperProcess->disconnectAll();
    scheduler.runPending();
    ASSERT_FALSE(fanIsManual(0));
    main.advance(4000); // the heartbeat learns the session is gone
    settle();
    pollAndFeed(snapshot(60, 60));
    EXPECT_TRUE(fanIsManual(0));
    ASSERT_TRUE(engine->activeSession());
    EXPECT_NE(engine->activeSession(), firstSession);
    EXPECT_FALSE(model->lastError());
}

TEST_F(AppModelTest, installingAndRemovingTheHelperFollowsTheRegistration) {
    registration.currentStatus = 0;
    launch();
    registration.registerFailure = "Operation not permitted";
    model->installHelper();
    settle();
    EXPECT_EQ(model->lastError(), "Operation not permitted");

    // While the system asks the user, the model polls and controls as before.
    registration.registerFailure.reset();
    registration.holdRegistration = true;
    registration.statusAfterRegister = 1;
    model->installHelper();
    settle();
    ASSERT_TRUE(registration.registrationPending());
    EXPECT_EQ(model->helperState(), HelperInstallState::notRegistered);
    registration.currentStatus = 1; // approved by hand meanwhile
    feed(snapshot(60, 60));
    activate(curvePreset());
    ASSERT_TRUE(fanIsManual(0));
    registration.answerRegistration();
    settle();
    EXPECT_EQ(model->helperState(), HelperInstallState::enabled);
    EXPECT_FALSE(model->lastError());
    model->uninstallHelper();
    settle();
    EXPECT_FALSE(fanIsManual(0) || fanIsManual(1));
    EXPECT_EQ(model->helperState(), HelperInstallState::notRegistered);
    EXPECT_EQ(model->activePreset().id, FanPreset::systemDefault.id);
    EXPECT_FALSE(model->lastError());
}

// Each gate refuses an activation in its own sentence and leaves the fans to the system.
struct Gate {
    const char* name;
    std::function<void(AppModelTest&)> arrange;
    const char* refusal;
};

class ActivationGateTest : public AppModelTest, public ::testing::WithParamInterface<Gate> {};

TEST_P(ActivationGateTest, refusesInItsSentenceAndLeavesTheFansAutomatic) {
    launch();
    feed(snapshot(60, 60));
    GetParam().arrange(*this);
    activate(curvePreset());
    EXPECT_EQ(model->lastError(), GetParam().refusal);
    EXPECT_FALSE(engine->activeSession());
    EXPECT_FALSE(fanIsManual(0) || fanIsManual(1));
}

// A real Mac's driver may list no CPU or GPU keys: polls go on without the composite reading.
TelemetrySnapshot withoutComposite(AppModelTest& test) {
    auto few = test.snapshot(60, 60);
    few.average.reset();
    few.compositeUnavailable = "CPU Core Average has only 0 valid channels";
    few.readings = {{"TB0T", "TB0T", 29.25}, {"TW0P", "TW0P", 36.75}};
    return few;
}

INSTANTIATE_TEST_SUITE_P(
    Gates, ActivationGateTest,
    ::testing::Values(
        Gate{"anotherOwner",
             [](AppModelTest& test) { test.model->setFanControlOwnership(FanControlOwnership::anotherApp); },
             "Quorvane is in monitoring-only mode. Choose “Quorvane controls fans” in Settings before "
             "applying "
             "a preset."},
        Gate{"noCompositeReading", [](AppModelTest& test) { test.pollAndFeed(withoutComposite(test)); },
             "Fan control is unavailable because this Mac's SMC does not report the CPU core temperatures "
             "that "
             "fan control is computed from (CPU Core Average has only 0 valid channels); Quorvane monitors "
             "only."},
        Gate{"helperInTestMode",
             [](AppModelTest& test) {
                 test.helperProcess->rewriteAnswers(
                     [](const HelperRequest& request, HelperResponse& response) {
                         if (request.selector == HelperSelector::beginSession && response.reply) {
                             (*response.reply)[HelperReplyKey::fanTestMode] = 1;
                         }
                     });
             },
             "The helper did not find a fan it can safely control on this Mac"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppModelTest, anotherOwnerKeepsTheSelectionAndSeesTheCompetitorButNoConflict) {
    defaults.setString("fanControlOwnership.v1", "anotherApp");
    launch();
    feed(snapshot(60, 60));
    model->activate(curvePreset());
    EXPECT_EQ(model->activePreset().id, FanPreset::systemDefault.id);
    competitorAppears();
    pollAndFeed(snapshot(60, 60));
    EXPECT_EQ(model->competingController(), "mbpfan");
    EXPECT_FALSE(model->activeConflictMessage());
    EXPECT_EQ(main.timerCount(), 1u) << "only the poll timer";
}

// Channels lost while the fans are driven: one poll is tolerated, the second hands them back.
TEST_F(AppModelTest, aLostCompositeReadingIsToleratedForOnePollThenTheFansGoBack) {
    launch();
    pollAndFeed(snapshot(70, 50));
    activate(FanPreset::automatic);
    ASSERT_TRUE(engine->activeSession());
    pollAndFeed(withoutComposite(*this));
    EXPECT_TRUE(engine->activeSession());
    EXPECT_FALSE(model->lastError()) << "few channels are no poll error";
    pollAndFeed(withoutComposite(*this));
    EXPECT_FALSE(engine->activeSession());
    EXPECT_FALSE(fanIsManual(0) || fanIsManual(1));
}

TEST_F(AppModelTest, aRestoreThatFindsTheHelperBusyRetriesQuietlyFiveSecondsLater) {
    remembered();
    engine->beginSession("another client");
    launch();
    feed(snapshot(60, 60));
    EXPECT_FALSE(model->lastError());
    EXPECT_EQ(logs.messagesContaining("preset restore deferred").size(), 1u);
    EXPECT_FALSE(model->isBusy());

    engine->endSession("another client");
    pollAndFeed(snapshot(60, 60));
    EXPECT_FALSE(fanIsManual(0)) << "not before the retry delay";
    main.advance(5000);
    pollAndFeed(snapshot(60, 60));
    EXPECT_TRUE(fanIsManual(0) && fanIsManual(1));
    EXPECT_FALSE(model->lastError());
}

// A disruption hands every fan back but keeps the selection; once it is over, the preset returns.
enum class Disruption { competitor, failedWrite, anotherOwner };

class DisruptionTest : public AppModelTest, public ::testing::WithParamInterface<Disruption> {};

TEST_P(DisruptionTest, handsBackKeepsTheSelectionAndRestoresOnceItIsOver) {
    launch();
    feed(snapshot(50, 50));
    activate(curvePreset());
    ASSERT_TRUE(fanIsManual(0) && fanIsManual(1));
    switch (GetParam()) {
    case Disruption::competitor:
        competitorAppears();
        pollAndFeed(snapshot(60, 60));
        EXPECT_EQ(
            model->activeConflictMessage(),
            "mbpfan's privileged SMC helper is still running. Open mbpfan and use its "
            "uninstall/remove-helper "
            "option, or unload that service with administrator approval. Quorvane is keeping both fans on "
            "Apple Default and will automatically reapply Quiet when the helper is gone.");
        EXPECT_FALSE(model->visibleError());
        break;
    case Disruption::failedWrite:
        firmware.injectTransient(SMCKey::fromString("F0Tg"), 0x82, -1, FaultScope::writes);
        pollAndFeed(snapshot(70, 70));
        EXPECT_TRUE(model->lastError());
        break;
    case Disruption::anotherOwner:
        model->setFanControlOwnership(FanControlOwnership::anotherApp);
        settle();
        EXPECT_EQ(defaults.string("fanControlOwnership.v1"), "anotherApp");
        break;
    }
    EXPECT_FALSE(fanIsManual(0) || fanIsManual(1));
    EXPECT_FALSE(engine->activeSession());
    EXPECT_EQ(model->activePreset().name, "Quiet");
    pollAndFeed(snapshot(70, 70));
    EXPECT_FALSE(fanIsManual(0)) << "no restore while the disruption lasts";

    switch (GetParam()) {
    case Disruption::competitor:
        processes.processes.clear();
        break;
    case Disruption::failedWrite:
        firmware.clearFaults();
        break;
    case Disruption::anotherOwner:
        model->setFanControlOwnership(FanControlOwnership::quorvane);
        break;
    }
    main.advance(5000);
    pollAndFeed(snapshot(70, 70));
    EXPECT_TRUE(fanIsManual(0) && fanIsManual(1));
    EXPECT_FALSE(model->lastError());
}

std::string disruptionName(const ::testing::TestParamInfo<Disruption>& info) {
    static const char* const names[] = {"competitor", "failedWrite", "anotherOwner"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Disruptions, DisruptionTest,
                         ::testing::Values(Disruption::competitor, Disruption::failedWrite,
                                           Disruption::anotherOwner),
                         disruptionName);

// A helper whose answer after the write test shows a fan still manual: the test is not passed.
TEST_F(AppModelTest, aFanLeftManualAfterTheWriteTestFailsIt) {
    defaults.removeValue("supervisedFanTestProtocolVersion");
    launch();
    feed(snapshot(60, 60));
    helperProcess->rewriteAnswers([](const HelperRequest& request, HelperResponse& response) {
        if (request.selector == HelperSelector::resetAll && response.reply) {
            (*response.reply)[HelperReplyKey::fans][0][HelperReplyKey::fanMode] = 1;
        }
    });
    model->runSupervisedFan0Test();
    settle();
    EXPECT_EQ(model->lastError(), "Automatic mode could not be verified after the test");
    EXPECT_FALSE(model->supervisedTestPassed());
}

} // namespace
} // namespace quorvane::testing
