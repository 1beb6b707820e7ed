#include "App/MenuBarTitle.hpp"
#include "App/TextFormat.hpp"

#include <clocale>
#include <cstdio>
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

// The desktop app runs under the user's locale (the toolkit adopts it at start); a comma-decimal one
// must not reach titles, notification bodies or logs. scripts/dependencies generates de_DE.UTF-8.
class CommaDecimalLocale {
public:
    CommaDecimalLocale() : previous_(std::setlocale(LC_ALL, nullptr)) {}
    ~CommaDecimalLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    bool activate() { return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr; }

private:
    std::string previous_;
};

constexpr const char* noCommaLocale = "the de_DE.UTF-8 locale is not generated on this machine "
                                      "(scripts/dependencies generates it with localedef)";

class MenuBarTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(MenuBarTitleTest, buildsTheStatusTextAlsoUnderACommaDecimalLocale) {
    const auto& c = GetParam();
    EXPECT_EQ(menuBarTitle(c.fans, c.temperatures, c.display), c.title);
    CommaDecimalLocale locale;
    if (!locale.activate()) {
        GTEST_SKIP() << noCommaLocale;
    }
    EXPECT_EQ(menuBarTitle(c.fans, c.temperatures, c.display), c.title);
}

TEST(TextFormat, NumbersUseAPointWhateverTheLocale) {
    CommaDecimalLocale locale;
    if (!locale.activate()) {
        GTEST_SKIP() << noCommaLocale;
    }
    char native[16];
    std::snprintf(native, sizeof native, "%.1f", 2.4);
    ASSERT_STREQ(native, "2,4")
        << "the locale must really write decimal commas for this test to mean anything";

    EXPECT_EQ(formatted("CPU/GPU thermal signal reached %.1f °C (threshold %.0f °C).", 96.04, 95.0),
              "CPU/GPU thermal signal reached 96.0 °C (threshold 95 °C).");
    EXPECT_EQ(formatted("sustainedDie=%.2f raw=%f°C fan=%ld", 81.456, 62.5, 1L),
              "sustainedDie=81.46 raw=62.500000°C fan=1");
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
