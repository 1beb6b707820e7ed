#include "EngineFixture.hpp"
#include "PrivilegedHelper/HelperService.hpp"

namespace quorvane {
namespace {

using testing::EngineFixture;

HelperRequest call(HelperSelector selector, std::string session = "", std::int64_t fan = 0,
                   bool manual = false, std::int64_t rpm = 0) {
    return HelperRequest{1, selector, std::move(session), fan, manual, rpm};
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
