#include "Helpers/SmartAutoCurve.hpp"
#include "Helpers/SmartAutoDecision.hpp"
#include "Helpers/SmartAutoRampDownState.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <tuple>
#include <vector>

namespace quorvane {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t minimum = 1200;
constexpr std::int64_t maximum = 5000;

TEST(SmartAutoCurveTest, FractionsInterpolateBetweenThePoints) {
    // Temperature, zone fraction, die-floor fraction. An unreadable temperature asks for full cooling.
    // clang-format off
    const std::tuple<double, double, double> cases[] = {
        {20, 0, 0}, {55, 0, 0}, {57.5, 0.175, 0}, {60, 0.35, 0}, {67.5, 0.5, 0}, {80, 0.75, 0}, {84, 0.83, 0},
        {86, 0.88, 0.2}, {87.5, 0.925, 0.35}, {90, 1, 0.51}, {98, 1, 0.91}, {101, 1, 1}, {120, 1, 1}, {nan, 1, 1}};
    // clang-format on
    for (const auto& [temperature, zone, dieFloor] : cases) {
        EXPECT_NEAR(SmartAutoCurve::fraction(temperature), zone, 1e-12) << temperature;
        EXPECT_NEAR(SmartAutoCurve::dieFloorFraction(temperature), dieFloor, 1e-12) << temperature;
    }
}

TEST(SmartAutoCurveTest, RpmsAndTiers) {
    EXPECT_EQ(SmartAutoCurve::rpm(67.5, minimum, maximum), 3100);
    EXPECT_EQ(SmartAutoCurve::rpm(50, minimum, maximum), 1200);
    EXPECT_EQ(SmartAutoCurve::rpm(95, minimum, maximum), 5000);
    EXPECT_EQ(SmartAutoCurve::rpm(67.5, 1000, 1001), 1001); // 1000.5 rounds away from zero
    EXPECT_EQ(SmartAutoCurve::dieFloorRPM(92, minimum, maximum), 3556);

    for (const auto& [temperature, tier] : {std::pair{54.9, 0}, {55.0, 1}, {74.9, 2}, {75.0, 3}, {95.0, 5}}) {
        EXPECT_EQ(SmartAutoCurve::tier(temperature), tier) << temperature;
    }
    EXPECT_EQ(SmartAutoCurve::nextTierTemperature(60), 75);
    EXPECT_EQ(SmartAutoCurve::nextTierTemperature(95), 90);
    EXPECT_EQ(SmartAutoCurve::nextDieFloorTierTemperature(100), 100);
}

struct BoostCase {
    std::vector<SmartAutoCurve::DieSample> samples;
    bool boosting;
};

class SmartAutoBoostTest : public ::testing::TestWithParam<BoostCase> {};

TEST_P(SmartAutoBoostTest, BoostsOnlyWhenBothLastRatesExceedOneDegreePerSecond) {
    EXPECT_EQ(SmartAutoCurve::isBoosting(GetParam().samples), GetParam().boosting);
}

INSTANTIATE_TEST_SUITE_P(Samples, SmartAutoBoostTest,
                         ::testing::Values(BoostCase{{{0, 80.0}, {1, 81.5}, {2, 83.0}}, true},
                                           BoostCase{{{0, 80.0}, {1, 81.0}, {2, 82.5}}, false}, // exactly 1.0
                                           BoostCase{{{0, 80.0}, {1, 82.0}}, false},
                                           BoostCase{{{0, 80.0}, {1, 82.0}, {1, 84.0}}, false},
                                           // Only the last three count.
                                           BoostCase{{{0, 90.0}, {1, 70.0}, {2, 72.0}, {3, 74.0}}, true},
                                           BoostCase{{{0, 80.0}, {1, nan}, {2, 84.0}}, false}));

TEST(SmartAutoDecisionTest, ZoneCurveRaisedByTheDieFloorAndReassertionTolerance) {
    EXPECT_EQ(SmartAutoDecision::targetRPM(60, 92.0, false, minimum, maximum), 3556);
    EXPECT_TRUE(SmartAutoDecision::floorDrivesDecision(60, 92.0, minimum, maximum));
    EXPECT_EQ(SmartAutoDecision::targetRPM(60, std::nullopt, false, minimum, maximum), 2530);
    EXPECT_EQ(SmartAutoDecision::targetRPM(60, 92.0, true, minimum, maximum), 5000);
    EXPECT_FALSE(SmartAutoDecision::floorDrivesDecision(55, 84.0, minimum, maximum)); // equal is not driving

    EXPECT_EQ(SmartAutoDecision::effectiveSustainedDieTemperature(89.0, true), 92.0);
    EXPECT_EQ(SmartAutoDecision::effectiveSustainedDieTemperature(89.0, false), 89.0);

    EXPECT_FALSE(SmartAutoDecision::needsReassertion(3000, 3049) ||
                 SmartAutoDecision::needsReassertion(3000, 2951) ||
                 SmartAutoDecision::needsReassertion(3000, std::nullopt));
    EXPECT_TRUE(SmartAutoDecision::needsReassertion(3000, 3050) &&
                SmartAutoDecision::needsReassertion(3000, 2950));
}

TEST(SmartAutoRampDownTest, StepsDownFiveHundredEveryThirtySeconds) {
    SmartAutoRampDownState state;
    std::int64_t commanded = 4000;
    // Desired, now, commanded after the tick. The last step stops at the desired target; a rise
    // applies at once and cancels the hold.
    // clang-format off
    const std::tuple<std::int64_t, double, std::int64_t> ticks[] = {
        {2000, 0, 4000}, {2000, 29.9, 4000}, {2000, 30, 3500}, {2000, 59, 3500}, {2000, 60, 3000},
        {2000, 90, 2500}, {2200, 120, 2200}, {2200, 121, 2200}, {1200, 122, 2200}, {4200, 130, 4200},
        {3000, 140, 4200}, {3000, 169, 4200}, {3000, 170, 3700}};
    // clang-format on
    for (const auto& [desired, now, expected] : ticks) {
        commanded = state.nextTarget(desired, commanded, now, SmartAutoCurve::stepDownDelay,
                                     SmartAutoCurve::stepDownRPM);
        EXPECT_EQ(commanded, expected) << "at " << now;
    }
}

} // namespace
} // namespace quorvane
