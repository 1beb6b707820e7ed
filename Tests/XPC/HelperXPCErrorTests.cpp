#include "XPC/HelperXPCError.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using HelperXPCError::Code;

TEST(HelperXPCErrorTest, PreciseHelperSentencesSurviveForCodesFourToSixAndNinetyNine) {
    const auto preflight = HelperXPCError::make(
        Code::abnormalPreflight, "Fan preflight is abnormal: all fans must begin in Automatic");
    EXPECT_EQ(HelperXPCError::readable(preflight), preflight);

    const XPCError bare(HelperXPCError::domain(), 5);
    const auto translated = HelperXPCError::readable(bare);
    EXPECT_STREQ(translated.what(), "Quorvane stopped because the preflight fan readings were abnormal.");
    EXPECT_EQ(translated.debugDescription(), std::nullopt);

    const auto internal = HelperXPCError::readable(XPCError(HelperXPCError::domain(), 99));
    EXPECT_STREQ(internal.what(), "The privileged helper could not complete the fan-control request.");
}

TEST(HelperXPCErrorTest, FixedSentencesForCodesZeroToThreeKeepTheHelperTextForDebugging) {
    const auto expired =
        HelperXPCError::readable(HelperXPCError::make(Code::invalidSession, "Session is not active"));
    EXPECT_STREQ(
        expired.what(),
        "The fan-control session expired. Quorvane returned the fans to Automatic; try the preset again.");
    EXPECT_EQ(expired.debugDescription(), "Session is not active");
    EXPECT_EQ(expired.code(), 2);

    EXPECT_STREQ(HelperXPCError::readable(XPCError(HelperXPCError::domain(), 1, std::string("x"))).what(),
                 "Another fan-control session is active. Quit any other fan utility and try again.");
}

TEST(HelperXPCErrorTest, GenericPlatformTextIsReplacedAndTheDomainNormalised) {
    const XPCError generic("OrvalithHelper.HelperError", 4,
                           XPCError::genericDescription("OrvalithHelper.HelperError", 4));
    const auto translated = HelperXPCError::readable(generic);
    EXPECT_EQ(translated.domain(), HelperXPCError::domain());
    EXPECT_STREQ(translated.what(),
                 "The helper found a fan that can be monitored but not safely controlled.");
    EXPECT_EQ(translated.debugDescription(), generic.localizedDescription());
}

} // namespace
} // namespace quorvane
