#include "EngineFixture.hpp"
#include "PrivilegedHelper/HelperService.hpp"
#include "XPC/HelperReplyKey.hpp"

namespace quorvane {
namespace {

using testing::EngineFixture;

HelperRequest call(HelperSelector selector, std::string session = "", std::int64_t fan = 0,
                   bool manual = false, std::int64_t rpm = 0) {
    return HelperRequest{1, selector, std::move(session), fan, manual, rpm};
}

TEST_F(EngineFixture, ServiceRemembersOnlyTheSessionItOpened) {
    start();
    HelperService first(*engine);
    HelperService second(*engine);
    const auto opened = first.handle(call(HelperSelector::beginSession, "A"));
    ASSERT_TRUE(opened.reply);
    EXPECT_EQ((*opened.reply)[HelperReplyKey::fanCount], 2);
    EXPECT_EQ(first.sessionID(), "A");

    const auto refused = second.handle(call(HelperSelector::beginSession, "B"));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code(), 1);
    EXPECT_EQ(second.sessionID(), std::nullopt);

    second.connectionInvalidated();
    scheduler.runPending();
    EXPECT_EQ(engine->activeSession(), "A");
    first.connectionInvalidated();
    scheduler.runPending();
    EXPECT_EQ(engine->activeSession(), std::nullopt);
}

TEST_F(EngineFixture, ErrorsCrossTheWireWithTheirCodes) {
    startVerified();
    HelperService service(*engine);
    service.handle(call(HelperSelector::beginSession, "A"));

    const auto wrapped = service.handle(call(HelperSelector::setFanMode, "A", 4294967296LL, true));
    ASSERT_TRUE(wrapped.error);
    EXPECT_EQ(wrapped.error->code(), 3);

    const auto stale = service.handle(call(HelperSelector::heartbeat, "old"));
    EXPECT_EQ(stale.error->code(), 2);
    EXPECT_EQ(stale.error->localizedDescription(), "The helper control session is invalid or expired");

    firmware.hideKey(SMCKey::fromString("F0Ac"));
    const auto smcFailure = service.handle(call(HelperSelector::setFanTargetRPM, "A", 0, false, 3000));
    ASSERT_TRUE(smcFailure.error);
    EXPECT_EQ(smcFailure.error->code(), 99);
    EXPECT_EQ(smcFailure.error->localizedDescription(), "SMC key F0Ac was not found");
}

} // namespace
} // namespace quorvane
