#include "App/HeadlessFrontEnd.hpp"
#include "App/HelperRegistrationRefresh.hpp"
#include "AppModelFixture.hpp"

#include <gmock/gmock.h>
#include <sstream>

namespace quorvane {
namespace {

using testing::AppModelTest;
using ::testing::HasSubstr;

class HeadlessFrontEndTest : public AppModelTest {
protected:
    // Launches the model and the front end over it.
    HeadlessFrontEnd& frontEnd(std::vector<std::string> arguments) {
        launch();
        headless = std::make_unique<HeadlessFrontEnd>(*model, AppCommandLine::parse(arguments), output,
                                                      errors, [this](int status) { finished = status; });
        headless->start();
        settle();
        return *headless;
    }

    std::ostringstream output;
    std::ostringstream errors;
    std::optional<int> finished;
    std::unique_ptr<HeadlessFrontEnd> headless;
};

TEST_F(HeadlessFrontEndTest, PrintsEveryPollAndQuitsAfterTheRequestedCount) {
    frontEnd({"--headless", "--polls", "2"});
    pollAndFeed(snapshot(55, 48));
    EXPECT_EQ(finished, std::nullopt);
    clock.advance(2000);
    pollAndFeed(snapshot(56, 49));
    EXPECT_EQ(finished, 0);
    EXPECT_TRUE(model->isTerminating());
    const auto printed = output.str();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 2) << printed; // one line a poll
}

TEST_F(HeadlessFrontEndTest, JSONListsPowerApartFromTheTemperatures) {
    frontEnd({"--headless", "--json", "--polls", "1"});
    // As over the kernel's driver: no composite, so the display falls back to the hottest channel.
    auto poll = snapshot(62, 50);
    poll.average.reset();
    poll.compositeUnavailable = "CPU Core Average has only 0 valid channels";
    poll.electricalReadings = {{"PSTR", "Total System Power", 130.0, "W"}};
    pollAndFeed(poll);
    const auto object = nlohmann::json::parse(output.str());
    EXPECT_EQ(
        object["electrical"],
        nlohmann::json::parse(R"([{"key":"PSTR","label":"Total System Power","value":130.0,"unit":"W"}])"));
    EXPECT_EQ(object["sensors"].size(), 2U);
    EXPECT_EQ(object["displayTemperature"], 62.0);
    EXPECT_EQ(object["fans"].size(), 2u);
    EXPECT_EQ(object["activePreset"], "Apple Default");
    EXPECT_EQ(object["owner"], "quorvane");
}

TEST_F(HeadlessFrontEndTest, AnUnknownPresetListsTheNamesAndQuits) {
    frontEnd({"--headless", "--preset", "Whisper"});
    pollAndFeed(snapshot(55, 48));
    EXPECT_EQ(finished, 2);
    EXPECT_THAT(errors.str(), HasSubstr("no preset is named \"Whisper\"; the presets are \""));
}

// The first poll may come before the helper's registration answers; the test must wait, not be skipped.
TEST_F(HeadlessFrontEndTest, TheRequestedSupervisedTestWaitsForTheHelpersApproval) {
    defaults.removeValue("supervisedFanTestProtocolVersion");
    frontEnd({"--headless", "--run-supervised-test"});
    auto unapproved = snapshot(55, 48);
    unapproved.helperState = HelperInstallState::requiresApproval;
    pollAndFeed(unapproved);
    EXPECT_FALSE(model->isBusy());
    EXPECT_FALSE(model->supervisedTestPassed());

    clock.advance(2000);
    pollAndFeed(snapshot(55, 48));
    EXPECT_TRUE(model->supervisedTestPassed()) << model->lastError().value_or("");
}

TEST(AppCommandLineTest, RefusesWhatItDoesNotKnow) {
    EXPECT_EQ(AppCommandLine::parse({"--ownership", "another-app"}).ownership,
              FanControlOwnership::anotherApp);
    EXPECT_EQ(AppCommandLine::parse({"--polls", "3", "--headless"}).polls, 3);
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--polls", "0"}, {"--polls", "2x"}, {"--polls"}, {"--ownership", "Quorvane"}, {"--fast"}}) {
        EXPECT_THROW(AppCommandLine::parse(arguments), AppCommandLineError) << arguments[0];
    }
}

// Quorvane --refresh-helper-registration.
TEST(HelperRegistrationRefresh, reportsEveryOutcomeAndRetriesRegistrationTwoSecondsApart) {
    testing::FakeDaemonRegistration registration;
    VirtualClock clock;
    std::ostringstream output;
    std::ostringstream errors;
    registration.registerFailure = "Unit file not found";
    EXPECT_EQ(refreshHelperRegistration(registration, output, errors, clock), 1);
    EXPECT_EQ(errors.str(), "Quorvane helper register failed (attempt 1): Unit file not found\n"
                            "Quorvane helper register failed (attempt 2): Unit file not found\n"
                            "Quorvane helper register failed (attempt 3): Unit file not found\n");
    EXPECT_EQ(output.str(), "");
    EXPECT_EQ(registration.registerCalls, 3);
    EXPECT_EQ(clock.sleepCount(), 2);
    EXPECT_EQ(clock.totalSlept(), 4000);

    registration.registerFailure.reset();
    registration.statusAfterRegister = 2;
    errors.str("");
    EXPECT_EQ(refreshHelperRegistration(registration, output, errors, clock), 0);
    EXPECT_EQ(output.str(), "Quorvane helper registration refreshed: 2\n");
    EXPECT_EQ(errors.str(), "");

    registration.unregisterFailure = "Access denied";
    output.str("");
    EXPECT_EQ(refreshHelperRegistration(registration, output, errors, clock), 1);
    EXPECT_EQ(errors.str(), "Quorvane helper unregister failed: Access denied\n");
    EXPECT_EQ(registration.registerCalls, 4) << "no registration after a failed unregister";
}

} // namespace
} // namespace quorvane
