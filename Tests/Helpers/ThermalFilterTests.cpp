#include "Helpers/CriticalThermalOverride.hpp"
#include "Helpers/FanZoneThermalFilter.hpp"
#include "Helpers/SustainedDieHeatFilter.hpp"
#include "Helpers/ThermalControlFilter.hpp"
#include "Helpers/ThermalDisplaySmoother.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <tuple>

namespace quorvane {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Both smoothers share one algorithm; each is checked on its own.
template <typename Smoother> class SmootherTest : public ::testing::Test {};
using Smoothers = ::testing::Types<ThermalDisplaySmoother, ThermalControlFilter>;
TYPED_TEST_SUITE(SmootherTest, Smoothers);

TYPED_TEST(SmootherTest, RisesFastFallsSlowIgnoresTheDeadbandAndNonFiniteSamples) {
    for (const auto& [input, expected] :
         {std::pair{50.25, 50.0}, {51.0, 50.65}, {49.0, 49.8}, {50.3, 50.195}}) {
        TypeParam smoother(50.0, 0.65, 0.2, 0.25);
        EXPECT_NEAR(smoother.update(input), expected, 1e-12) << input;
    }
    TypeParam empty(std::nullopt, 0.65, 0.2, 0.25);
    EXPECT_TRUE(std::isnan(empty.update(nan)));
    EXPECT_FALSE(empty.value().has_value());
    EXPECT_EQ(empty.update(42.0), 42.0); // the first finite sample is taken as it is
    EXPECT_EQ(empty.update(std::numeric_limits<double>::infinity()), 42.0);
    empty.reset();
    EXPECT_EQ(empty.update(30.0), 30.0);
}

TEST(FanZoneThermalFilterTest, FallsOnlyAfterASustainedDrop) {
    FanZoneThermalFilter filter(60.0, 0.45, 0.18, 0.35, 1.0, 8.0);
    EXPECT_EQ(filter.update(59.5, 0.0), 60.0); // below the threshold: no hold
    EXPECT_FALSE(filter.coolingSince().has_value());
    EXPECT_EQ(filter.update(59.0, 2.0), 60.0); // a drop of exactly the threshold starts the hold
    EXPECT_EQ(filter.coolingSince(), 2.0);
    EXPECT_EQ(filter.update(58.5, 9.9), 60.0);
    EXPECT_NEAR(filter.update(58.5, 10.0), 59.73, 1e-12);
    EXPECT_NEAR(filter.update(58.0, 11.0), 59.4186, 1e-12); // the hold stays open
    EXPECT_NEAR(filter.update(59.3, 12.0), 59.4186, 1e-12); // within the deadband
    EXPECT_FALSE(filter.coolingSince().has_value());
    EXPECT_NEAR(filter.update(nan, 30.0), 59.4186, 1e-12);
}

TEST(SustainedDieHeatFilterTest, FollowsTheMedianOfThreeSoASpikeNeverShows) {
    SustainedDieHeatFilter filter(1.0, 0.1, 2);
    EXPECT_EQ(filter.update(50), std::nullopt);
    EXPECT_EQ(filter.update(90), std::nullopt);
    EXPECT_EQ(filter.update(nan), std::nullopt);
    EXPECT_EQ(filter.update(52), 52.0);
    EXPECT_EQ(filter.update(53), 53.0);           // median of 90, 52, 53 rises at full weight
    EXPECT_NEAR(*filter.update(40), 52.9, 1e-12); // median 52 falls at a tenth

    // One miss keeps the state; a sample in between resets the count; two in a row clear it.
    EXPECT_NEAR(*filter.noteMissingSample(), 52.9, 1e-12);
    EXPECT_EQ(filter.update(60), 53.0); // median of 53, 40, 60
    EXPECT_EQ(filter.noteMissingSample(), 53.0);
    EXPECT_EQ(filter.noteMissingSample(), std::nullopt);
    EXPECT_EQ(filter.update(70.0), std::nullopt);
    EXPECT_EQ(filter.update(71.0), std::nullopt);
    EXPECT_EQ(filter.update(72.0), 71.0);
}

TEST(CriticalThermalOverrideTest, LatchesAt105AndReleasesAfter15SecondsBelow100) {
    CriticalThermalOverride override;
    // Temperature, now, active after the sample. 100.0 at 19.95 s is back in the band, so the
    // 15 seconds start over.
    // clang-format off
    const std::tuple<double, double, bool> steps[] = {
        {104.9, 0, false}, {105.0, 1, true}, {nan, 2, true}, {99.0, 3, true}, {101.0, 4, true}, {99.0, 5, true},
        {99.0, 19.9, true}, {100.0, 19.95, true}, {99.0, 20, true}, {98.0, 34.9, true}, {99.0, 35, false},
        {104.0, 36, false}, {110, 40, true}, {90, 41, true}};
    // clang-format on
    for (const auto& [temperature, now, active] : steps) {
        EXPECT_EQ(override.update(temperature, now), active) << "at " << now;
    }
    override.reset();
    EXPECT_FALSE(override.isActive() || override.releaseSince());
}

} // namespace
} // namespace quorvane
