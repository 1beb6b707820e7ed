#include "App/MenuBarTitle.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

struct TitleCase {
    const char* name;
    std::vector<FanInfo> fans;
    std::map<int, double> temperatures;
    std::optional<double> display;
    const char* title;
};

FanInfo fan(int index, std::int64_t rpm) {
    return {.index = index, .actualRPM = rpm, .minRPM = 1200, .maxRPM = 6900, .targetRPM = std::nullopt};
}

class MenuBarTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(MenuBarTitleTest, buildsTheStatusText) {
    const auto& c = GetParam();
    EXPECT_EQ(menuBarTitle(c.fans, c.temperatures, c.display), c.title);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, MenuBarTitleTest,
    ::testing::Values(
        TitleCase{"nothingKnown", {}, {}, std::nullopt, "Fan"},
        TitleCase{"noFansShowsTheHottestSensor", {}, {}, 57.6, "58°"},
        TitleCase{
            "zonesAndSpeeds", {fan(1, 980), fan(0, 2430)}, {{0, 62.4}, {1, 59.5}}, 70, "L62° R60° 2.4k·980"},
        TitleCase{"noZoneYetFallsBackToTheDisplay", {fan(0, 1900), fan(1, 1900)}, {}, 58.2, "58° 1.9k·1.9k"},
        TitleCase{"speedBoundary", {fan(0, 1000), fan(1, 999)}, {}, std::nullopt, "Fan 1.0k·999"},
        TitleCase{
            "thirdFanAndAZoneWithoutAFan", {fan(2, 3000)}, {{2, 71}, {5, 90}}, std::nullopt, "F271° 3.0k"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quorvane
