#include "Client/HelperClient.hpp"
#include "Helpers/UUID.hpp"
#include "PrivilegedHelper/EngineFixture.hpp"
#include "PrivilegedHelper/HelperService.hpp"
#include "Support/FakeDaemonRegistration.hpp"
#include "Support/InProcessHelperTransport.hpp"
#include "Support/ManualExecutor.hpp"
#include "XPC/HelperReplyKey.hpp"
#include "XPC/HelperXPCError.hpp"

#include <algorithm>

namespace quorvane {
namespace {

using testing::EngineFixture;
using testing::FakeDaemonRegistration;
using testing::InProcessHelper;
using testing::ManualExecutor;

const std::string sessionExpired =
    "The fan-control session expired. Quorvane returned the fans to Automatic; try the preset again.";

// What one call came back with, and how often it was called.
struct Answer {
    int calls = 0;
    std::optional<nlohmann::json> reply;
    std::optional<XPCError> error;

    HelperClient::ReplyCompletion completion() {
        return [this](auto received, auto failure) {
            ++calls, reply = received, error = failure;
        };
    }
    HelperClient::ErrorCompletion errorCompletion() {
        return [this](auto failure) {
            ++calls, error = failure;
        };
    }
};

// The client against a real engine over in-process connections. Replies, heartbeat ticks and
// session-loss reports each wait on their own executor until the test runs it.
class HelperClientTest : public EngineFixture {
protected:
    HelperClientTest() : heartbeatQueue(clock), mainQueue(clock), replies(clock) {}

    // On a machine whose supervised test already passed.
    void makeClient() {
        startVerified();
        helper.emplace(*engine, replies);
        client = std::make_unique<HelperClient>(helper->factory(), registration, heartbeatQueue, mainQueue);
        client->setSessionErrorHandler([this](const XPCError& error) { lostSessions.push_back(error); });
    }

    // Asks for a session and delivers the helper's answer.
    Answer begin() {
        Answer begun;
        client->beginSession(begun.completion());
        replies.runPending();
        return begun;
    }
    std::string beginVerifiedSession() {
        makeClient();
        EXPECT_EQ(begin().error, std::nullopt);
        return client->sessionID().value_or("");
    }

    long count(HelperSelector selector) const {
        const auto sent = helper->selectors();
        return std::count(sent.begin(), sent.end(), selector);
    }

    ManualExecutor heartbeatQueue;
    ManualExecutor mainQueue;
    ManualExecutor replies;
    FakeDaemonRegistration registration;
    std::optional<InProcessHelper> helper;
    std::unique_ptr<HelperClient> client;
    std::vector<XPCError> lostSessions;
};

TEST_F(HelperClientTest, CallsThatNeedASessionAnswerAtOnceWithoutOne) {
    makeClient();
    Answer target, mode, reset, ended;
    client->setTarget(0, 3000, target.completion());
    client->setMode(0, true, mode.completion());
    client->resetAll(reset.completion());
    client->endSession(ended.errorCompletion());

    ASSERT_TRUE(target.error);
    EXPECT_STREQ(target.error->what(), "No privileged fan-control session is active");
    EXPECT_EQ(target.error->domain(), HelperClient::clientErrorDomain);
    EXPECT_EQ(mode.error, HelperClient::noSessionError());
    EXPECT_EQ(reset.calls, 1);
    EXPECT_FALSE(reset.error || reset.reply);
    EXPECT_EQ(ended.calls, 1);
    EXPECT_EQ(ended.error, std::nullopt);
    EXPECT_EQ(helper->connectionCount(), 0);
    EXPECT_TRUE(helper->requests().empty());
}

TEST_F(HelperClientTest, SessionIsStoredOnlyOnceTheHelperAgreesAndHeartbeatsKeepItsLease) {
    makeClient();
    Answer begun;
    client->beginSession(begun.completion());
    EXPECT_EQ(begun.calls, 0);
    EXPECT_EQ(client->sessionID(), std::nullopt);

    replies.runPending();
    ASSERT_EQ(begun.calls, 1);
    EXPECT_EQ(begun.error, std::nullopt);
    ASSERT_TRUE(begun.reply);
    EXPECT_EQ((*begun.reply)[HelperReplyKey::fanCount], 2);
    ASSERT_TRUE(client->sessionID());
    EXPECT_TRUE(UUID::parse(*client->sessionID()));
    EXPECT_EQ(engine->activeSession(), client->sessionID());

    heartbeatQueue.advance(3999);
    EXPECT_EQ(count(HelperSelector::heartbeat), 0);
    heartbeatQueue.advance(1);
    EXPECT_EQ(count(HelperSelector::heartbeat), 1);
    EXPECT_EQ(helper->requests().back().sessionID, *client->sessionID());

    // Far past the 12-second lease, kept alive by the heartbeat alone.
    for (int second = 0; second < 30; ++second) {
        heartbeatQueue.advance(1000);
        replies.runPending();
        scheduler.tick();
    }
    EXPECT_EQ(count(HelperSelector::heartbeat), 8);
    EXPECT_EQ(engine->activeSession(), client->sessionID());
}

TEST_F(HelperClientTest, BusyHelperGivesTheUserSentenceAndNoSessionOrHeartbeat) {
    makeClient();
    HelperService otherApp(*engine);
    otherApp.handle(HelperRequest{1, HelperSelector::beginSession, "other"});

    const auto begun = begin();
    ASSERT_TRUE(begun.error);
    EXPECT_STREQ(begun.error->what(),
                 "Another fan-control session is active. Quit any other fan utility and try again.");
    EXPECT_EQ(client->sessionID(), std::nullopt);
    heartbeatQueue.advance(20000);
    EXPECT_EQ(count(HelperSelector::heartbeat), 0);
}

TEST_F(HelperClientTest, LostLeaseIsReportedOnTheMainExecutorOncePerFailedHeartbeat) {
    const auto id = beginVerifiedSession();
    clock.advance(12500); // the app stood still past the lease
    scheduler.tick();
    scheduler.runPending();
    ASSERT_EQ(engine->activeSession(), std::nullopt);

    heartbeatQueue.advance(0);
    EXPECT_EQ(count(HelperSelector::heartbeat), 1);
    replies.runPending();
    EXPECT_TRUE(lostSessions.empty()) << "reported off the main executor";
    mainQueue.runPending();
    ASSERT_EQ(lostSessions.size(), 1u);
    EXPECT_STREQ(lostSessions[0].what(), sessionExpired.c_str());
    EXPECT_TRUE(HelperXPCError::isInvalidSession(lostSessions[0]));
    EXPECT_EQ(client->sessionID(), id) << "the owner decides what to do with a lost session";

    heartbeatQueue.advance(4000);
    replies.runPending();
    mainQueue.runPending();
    EXPECT_EQ(lostSessions.size(), 2u);
}

TEST_F(HelperClientTest, OneFailedHeartbeatIsToleratedTwoInARowAreReported) {
    beginVerifiedSession();
    const auto nextHeartbeat = [&] {
        heartbeatQueue.advance(4000);
        replies.runPending();
    };

    helper->setReachable(false);
    nextHeartbeat();
    EXPECT_EQ(mainQueue.pendingCount(), 0u);
    helper->setReachable(true);
    nextHeartbeat(); // a new connection, and the helper still knows the session
    helper->setReachable(false);
    nextHeartbeat();
    EXPECT_EQ(mainQueue.pendingCount(), 0u) << "a success in between starts the count again";

    nextHeartbeat();
    mainQueue.runPending();
    ASSERT_EQ(lostSessions.size(), 1u);
    EXPECT_EQ(lostSessions[0].domain(), helperConnectionErrorDomain);
    EXPECT_EQ(lostSessions[0].code(), helperConnectionInvalid);
    EXPECT_EQ(helper->connectionCount(), 3);
    EXPECT_EQ(count(HelperSelector::heartbeat), 1) << "only the connected heartbeat reached the helper";
}

TEST_F(HelperClientTest, EndSessionLetsGoOfTheSessionBeforeTheHelperAnswers) {
    const auto id = beginVerifiedSession();
    Answer ended;
    client->endSession(ended.errorCompletion());
    EXPECT_EQ(client->sessionID(), std::nullopt);
    EXPECT_EQ(ended.calls, 0);
    EXPECT_EQ(heartbeatQueue.timerCount(), 0u);

    heartbeatQueue.advance(12000);
    EXPECT_EQ(count(HelperSelector::heartbeat), 0);
    replies.runPending();
    EXPECT_EQ(ended.calls, 1);
    EXPECT_EQ(ended.error, std::nullopt);
    EXPECT_EQ(helper->requests().back().sessionID, id);
    EXPECT_EQ(engine->activeSession(), std::nullopt);
}

TEST_F(HelperClientTest, InvalidateDropsTheSessionAndTheHelperHandsTheFansBack) {
    beginVerifiedSession();
    Answer inFlight;
    client->resetAll(inFlight.completion());
    client->invalidate();
    EXPECT_EQ(client->sessionID(), std::nullopt);
    EXPECT_EQ(heartbeatQueue.timerCount(), 0u);

    replies.runPending();
    ASSERT_TRUE(inFlight.error);
    EXPECT_EQ(inFlight.error->code(), helperConnectionInvalid);
    scheduler.runPending();
    EXPECT_EQ(engine->activeSession(), std::nullopt);

    EXPECT_EQ(begin().error, std::nullopt);
    EXPECT_EQ(helper->connectionCount(), 2);
}

TEST_F(HelperClientTest, UninstallEndsTheSessionPreparesTheHelperThenUnregisters) {
    const auto id = beginVerifiedSession();
    registration.currentStatus = 1;
    ASSERT_TRUE(std::filesystem::exists(paths.capabilityMarker));
    Answer removed;
    client->uninstall(removed.errorCompletion());
    EXPECT_EQ(client->sessionID(), std::nullopt);
    replies.runPending();
    replies.runPending();

    ASSERT_EQ(removed.calls, 1);
    EXPECT_EQ(removed.error, std::nullopt);
    EXPECT_EQ(helper->selectors(), (std::vector{HelperSelector::beginSession, HelperSelector::endSession,
                                                HelperSelector::prepareForUninstall}));
    EXPECT_EQ(helper->requests()[1].sessionID, id);
    EXPECT_FALSE(std::filesystem::exists(paths.capabilityMarker));
    EXPECT_EQ(registration.unregisterCalls, 1);
    EXPECT_EQ(client->installState(), HelperInstallState::notRegistered);

    // With no helper to prepare, the daemon stays registered and the connection error is reported.
    HelperClient unreachable([] { return std::unique_ptr<HelperTransport>(); }, registration, heartbeatQueue,
                             mainQueue);
    Answer stopped;
    unreachable.uninstall(stopped.errorCompletion());
    ASSERT_TRUE(stopped.error);
    EXPECT_EQ(stopped.error->domain(), helperConnectionErrorDomain);
    EXPECT_EQ(registration.unregisterCalls, 1);
}

} // namespace
} // namespace quorvane
