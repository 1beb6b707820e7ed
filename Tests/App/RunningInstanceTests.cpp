#include "App/RunningInstance.hpp"
#include "App/SessionBusReclaim.hpp"
#include "App/SingleInstance.hpp"
#include "App/SwitchForwarding.hpp"
#include "AppModelFixture.hpp"
#include "Platform/AppInstanceError.hpp"
#include "Support/Eventually.hpp"
#include "Support/ManualExecutor.hpp"
#include "Support/PresetFixtures.hpp"
#include "Support/PrivateBus.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <sstream>

namespace quorvane {
namespace {

using testing::AppModelTest;
using ::testing::Contains;
using ::testing::HasSubstr;

// A second start's switches carried out by the running app's model, as the session bus would carry
// them; the state it publishes afterwards.
class RunningInstanceTest : public AppModelTest {
protected:
    void SetUp() override {
        launch();
        running = std::make_unique<RunningInstance>(
            *model, main, openWindow, [this](const AppInstanceState& state) { published.push_back(state); });
        settle();
    }

    int forward(const std::vector<std::string>& arguments) {
        output.str("");
        errors.str("");
        const int status = forwardSwitches(AppCommandLine::parse(arguments), *running, output, errors);
        settle();
        return status;
    }

    RunningInstance::OpenWindow openWindow;
    std::unique_ptr<RunningInstance> running;
    std::vector<AppInstanceState> published;
    std::ostringstream output;
    std::ostringstream errors;
    testing::TemporaryDirectory directory;
};

// The import is forwarded by the process test over a real session bus.
TEST_F(RunningInstanceTest, ForwardedSwitchesActOnTheRunningModelAndSayWhatTheyDid) {
    const auto exported = directory.path() / "out.json";
    published.clear();
    EXPECT_EQ(forward({"--ownership", "another-app", "--export-presets", exported.string()}), 0)
        << errors.str();
    EXPECT_EQ(output.str(), "Fan-control owner: Another app controls fans in the running Quorvane\n"
                            "Exported 2 presets to " +
                                exported.string() + " in the running Quorvane\n");
    EXPECT_EQ(model->fanControlOwnership(), FanControlOwnership::anotherApp);
    EXPECT_TRUE(std::filesystem::exists(exported));
    // One publication for the whole batch, with the new owner.
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published.back().owner, "anotherApp");
    EXPECT_EQ(published.back().activePreset, model->activePreset().name);
}

TEST_F(RunningInstanceTest, ARefusalEndsTheForwardingWithTheRunningAppsSentence) {
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"--preset", "Nope"}, 1, "Quorvane: no preset is named \"Nope\"; the presets are \"Apple Default\""},
        {{"--import-presets", (directory.path() / "missing.json").string(), "--preset", "Smart Auto"},
         1,
         "Quorvane: Import failed: The file “missing.json” could not be opened (No such file or "
         "directory).\n"},
        {{"--open", "dashboard"}, 1, "Quorvane: The running Quorvane is headless and has no windows.\n"},
        {{"--headless", "--json", "--polls", "3"},
         2,
         "Quorvane: --json, --polls need a Quorvane of their own"},
        {{"--headless", "--json"}, 2, "Quorvane: --json needs a Quorvane of its own;"},
    };
    for (const auto& [arguments, status, message] : cases) {
        EXPECT_EQ(forward(arguments), status) << arguments.front();
        EXPECT_THAT(errors.str(), HasSubstr(message));
        EXPECT_EQ(output.str(), "");
        EXPECT_EQ(model->activePreset().id, FanPreset::systemDefault.id) << "nothing after a refusal runs";
    }
    EXPECT_EQ(forward({"--headless"}), 0);
    EXPECT_EQ(output.str(), "Quorvane is already running\n");
}

// A launch from the menu while Quorvane runs shows its panel, brought forward with the launch's token.
TEST_F(RunningInstanceTest, AStartWithNoSwitchesOpensThePanelWithTheLaunchToken) {
    std::vector<std::string> opened;
    running = std::make_unique<RunningInstance>(
        *model, main,
        [&](const std::string& window, const std::string& token) { opened.push_back(window + " " + token); },
        [](const AppInstanceState&) {});
    ::setenv("XDG_ACTIVATION_TOKEN", "token-1", 1);
    EXPECT_EQ(forward({}), 0);
    ::unsetenv("XDG_ACTIVATION_TOKEN");
    EXPECT_EQ(output.str(), "Opened panel in the running Quorvane\n");
    EXPECT_THAT(opened, ::testing::ElementsAre("panel token-1"));
}

TEST_F(RunningInstanceTest, PresetsAreFoundByNameOrIdentifierAndBuiltInsStayLocked) {
    const auto name = running->createPreset();
    const auto created = model->customPresets().back();
    EXPECT_EQ(name, created.name);
    EXPECT_EQ(running->duplicatePreset(created.id.uuidString()), name + " Copy");
    running->renamePreset(name + " Copy", "Evening");
    running->deletePreset("Evening");
    EXPECT_THAT(testing::names(model->customPresets()), ::testing::Not(Contains("Evening")));
    EXPECT_THROW(running->deletePreset("Battery Saver"), AppInstanceError);
    EXPECT_THROW(running->duplicatePreset("Smart Auto"), AppInstanceError);
    EXPECT_THROW(running->setOwnership("AnotherApp"), AppInstanceError);
    running->setOwnership("another-app"); // the command line's spelling
    EXPECT_EQ(model->fanControlOwnership(), FanControlOwnership::anotherApp);
}

// The bus daemon restarts at the same address: the first attempt finds no bus, the next waits twice
// as long and takes the name back.
TEST_F(RunningInstanceTest, ALostSessionBusIsReclaimedWithBackOff) {
    testing::PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "no dbus-daemon";
    }
    testing::TemporaryDirectory directory;
    SingleInstance instance({.busAddress = bus.address(), .lockFile = directory.path() / "lock"});
    ASSERT_FALSE(instance.start({}, output, errors));
    VirtualClock time;
    testing::ManualExecutor loop(time);
    SessionBusReclaim reclaim(loop, [&] { return instance.reclaim(*running); });

    bus.stop();
    ASSERT_TRUE(testing::eventually([&] { return !instance.service()->process(); }));
    reclaim.lost();
    loop.advance(SessionBusReclaim::firstWaitMilliseconds);
    bus.start();
    loop.advance(SessionBusReclaim::firstWaitMilliseconds);
    EXPECT_TRUE(reclaim.reclaiming());
    loop.advance(SessionBusReclaim::firstWaitMilliseconds);
    EXPECT_FALSE(reclaim.reclaiming());
    std::string failure;
    auto other = SessionBus::connect(bus.address(), failure);
    ASSERT_TRUE(other) << failure;
    EXPECT_EQ(AppInstanceService::claim(*other), nullptr);
}

} // namespace
} // namespace quorvane
