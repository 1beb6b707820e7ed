#include "Helpers/FanCurve.hpp"
#include "Helpers/HysteresisCurve.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace quorvane {
namespace {

struct CurvePoint {
    FanCurve curve;
    double temperature;
    std::int64_t expected;
};

class FanCurvePoints : public ::testing::TestWithParam<CurvePoint> {};

TEST_P(FanCurvePoints, GiveTheLinearTarget) {
    const auto& point = GetParam();
    EXPECT_EQ(point.curve.rpm(point.temperature), point.expected);
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
const FanCurve standard{30, 50, 1200, 5000};

INSTANTIATE_TEST_SUITE_P(Curves, FanCurvePoints,
                         ::testing::Values(CurvePoint{standard, 30, 1200}, CurvePoint{standard, 40, 3100},
                                           CurvePoint{standard, 50, 5000}, CurvePoint{standard, 29, 1200},
                                           CurvePoint{standard, 60, 5000}, CurvePoint{standard, nan, 5000},
                                           // Halves go away from zero.
                                           CurvePoint{{0, 2, 1000, 1001}, 1, 1001},
                                           // An empty range: minimum at or below it, maximum above.
                                           CurvePoint{{50, 50, 1200, 5000}, 50, 1200},
                                           CurvePoint{{50, 50, 1200, 5000}, 50.1, 5000},
                                           CurvePoint{{nan, 50, 1200, 5000}, 40, 5000},
                                           // Infinite bounds and the widest speed range stay defined.
                                           CurvePoint{{-inf, 50, 1200, 5000}, 40, 5000},
                                           CurvePoint{{0, 1, INT64_MIN, INT64_MAX}, 0.5, 0}));

TEST(HysteresisCurve, FollowsRisesAtOnceAndFallsOnlyPastTheBand) {
    HysteresisCurve curve(30, 50, 1.5);
    EXPECT_EQ(curve.target(45, 1200, 5000), 4050);
    EXPECT_EQ(curve.target(44, 1200, 5000), 4050);
    EXPECT_EQ(curve.target(43.5, 1200, 5000), 3765);
    EXPECT_EQ(curve.target(43, 1200, 5000), 3765);
    EXPECT_EQ(curve.target(46, 1200, 5000), 4240);
}

TEST(HysteresisCurve, HeldTargetIsClampedToNewLimitsWithoutMovingTheReference) {
    HysteresisCurve curve(30, 50, 1.5);
    EXPECT_EQ(curve.target(50, 1200, 5000), 5000);
    EXPECT_EQ(curve.target(49, 1200, 4000), 4000);
    EXPECT_EQ(curve.target(49, 4500, 6000), 5000);
}

TEST(HysteresisCurve, NaNBandMeansNoHoldAndNaNReadingRunsFullWithoutPinningTheFan) {
    HysteresisCurve curve(30, 50, nan);
    EXPECT_EQ(curve.hysteresis(), 0);
    curve.target(45, 1200, 5000);
    EXPECT_EQ(curve.target(44.9, 1200, 5000), 4031);
    EXPECT_EQ(curve.target(nan, 1200, 5000), 5000);
    EXPECT_EQ(curve.target(40, 1200, 5000), 3100);
    EXPECT_EQ(HysteresisCurve(30, 50, -3).hysteresis(), 0);
}

} // namespace
} // namespace quorvane
