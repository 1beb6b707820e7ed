#include "Platform/AppInstanceError.hpp"
#include "Platform/AppInstanceRemote.hpp"
#include "Platform/AppInstanceService.hpp"
#include "Support/PrivateBus.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <utility>

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

// The running app's side, recording what it was asked.
class RecordingCommands final : public AppInstanceCommands {
public:
    void activatePreset(const std::string& preset) override {
        calls.push_back("activate " + preset);
        throw AppInstanceError("no preset is named \"" + preset + "\"");
    }
    std::string createPreset() override { return "Custom 1"; }
    std::string duplicatePreset(const std::string& preset) override { return preset + " Copy"; }
    void renamePreset(const std::string& preset, const std::string& newName) override {
        calls.push_back("rename " + preset + " " + newName);
    }
    void deletePreset(const std::string&) override {}
    std::size_t importPresets(const std::filesystem::path& file) override {
        calls.push_back("import " + file.string());
        return 2;
    }
    std::size_t exportPresets(const std::filesystem::path&) override { return 0; }
    // Answered on a later turn of the loop, as a registration is.
    void installHelper(Finished finished) override { pendingInstall = std::move(finished); }
    void runSupervisedTest(Finished finished) override { finished({{}, "Approve the helper first."}); }
    void setOwnership(const std::string&) override {}
    void open(const std::string& window, const std::string& activationToken) override {
        calls.push_back("open " + window + " " + activationToken);
    }

    std::vector<std::string> calls;
    Finished pendingInstall;
};

class AppInstanceServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running()) {
            GTEST_SKIP() << "dbus-daemon is not available";
        }
    }
    SessionBus connect() {
        std::string failure;
        auto connection = SessionBus::connect(bus.address(), failure);
        if (!connection) {
            throw std::runtime_error("cannot reach the private bus: " + failure);
        }
        return std::move(*connection);
    }
    // Answers the service's calls on a thread of its own, as the app's main loop would.
    static std::jthread pump(
        AppInstanceService& service, std::function<void()> everyTurn = [] {}) {
        return std::jthread([&service, everyTurn](std::stop_token stop) {
            while (!stop.stop_requested()) {
                pollfd descriptor{service.descriptor(), POLLIN, 0};
                ::poll(&descriptor, 1, 20);
                service.process();
                everyTurn();
            }
        });
    }

    testing::PrivateBus bus;
};

TEST_F(AppInstanceServiceTest, OneProcessHoldsTheNameAndAnotherOnesCallsReachIt) {
    auto first = connect();
    auto second = connect();
    auto service = AppInstanceService::claim(first);
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(AppInstanceService::claim(second), nullptr);

    RecordingCommands commands;
    service->attach(commands);
    AppInstanceRemote running(second);
    {
        const auto loop = pump(*service, [&] {
            if (commands.pendingInstall) {
                std::exchange(commands.pendingInstall, {})({"enabled", std::nullopt});
            }
        });
        EXPECT_EQ(running.importPresets("/tmp/presets.json"), 2u);
        std::vector<std::string> outcomes;
        const auto keep = [&](const AppInstanceCommands::Outcome& outcome) {
            outcomes.push_back(outcome.failure.value_or("done: " + outcome.result));
        };
        running.installHelper(keep);
        running.runSupervisedTest(keep);
        EXPECT_THAT(outcomes, ElementsAre("done: enabled", "Approve the helper first."));
        EXPECT_EQ(running.duplicatePreset("Quiet"), "Quiet Copy");
        running.renamePreset("Quiet", "Calm");
        running.open("panel", "token-1");
        EXPECT_THAT([&] { running.activatePreset("Nope"); },
                    ThrowsMessage<AppInstanceError>(::testing::StrEq("no preset is named \"Nope\"")));
        EXPECT_THAT([&] { running.importPresets("presets.json"); },
                    ThrowsMessage<AppInstanceError>(HasSubstr("absolute path")));
    }
    EXPECT_THAT(commands.calls, ElementsAre("import /tmp/presets.json", "rename Quiet Calm",
                                            "open panel token-1", "activate Nope"));

    // Once the running app is gone, the next start owns the name.
    service.reset();
    EXPECT_NE(AppInstanceService::claim(second), nullptr);
}

// The names listed in each PropertiesChanged signal the watcher received.
int collectChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto& signals = *static_cast<std::vector<std::vector<std::string>>*>(userdata);
    signals.emplace_back();
    sd_bus_message_skip(message, "s");
    sd_bus_message_enter_container(message, 'a', "{sv}");
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        sd_bus_message_read(message, "s", &name);
        signals.back().emplace_back(name);
        sd_bus_message_skip(message, "v");
        sd_bus_message_exit_container(message);
    }
    return 0;
}

TEST_F(AppInstanceServiceTest, StateIsReadableAndOnlyItsChangesAreAnnounced) {
    auto first = connect();
    auto watcher = connect();
    auto service = AppInstanceService::claim(first);
    ASSERT_NE(service, nullptr);
    std::vector<std::vector<std::string>> signals;
    sd_bus_slot* slot = nullptr;
    ASSERT_GE(sd_bus_match_signal(watcher.get(), &slot, nullptr, AppInstanceService::objectPath.c_str(),
                                  "org.freedesktop.DBus.Properties", "PropertiesChanged", collectChanged,
                                  &signals),
              0);

    AppInstanceState state;
    state.title = "L62° R60° 2.4k·980";
    state.displayTemperature = 64.5;
    state.fans = {FanInfo{.index = 0, .actualRPM = 2400, .minRPM = 1200, .maxRPM = 6000, .targetRPM = 2400}};
    state.activePreset = "Smart Auto";
    state.presets = {"Apple Default", "Smart Auto"};
    state.owner = "quorvane";
    service->publish(state);
    state.title = "L70° R60° 2.6k·980";
    state.fans[0].actualRPM = 2600;
    service->publish(state);
    service->publish(state);
    state.activePreset = "Full Blast";
    service->publish(state);
    for (int turn = 0; turn < 200 && signals.size() < 3; ++turn) {
        if (sd_bus_process(watcher.get(), nullptr) == 0) {
            sd_bus_wait(watcher.get(), 20000);
        }
    }
    sd_bus_slot_unref(slot);
    ASSERT_EQ(signals.size(), 3u);
    EXPECT_THAT(signals[0],
                ElementsAre("Title", "DisplayTemperature", "Fans", "ActivePreset", "Presets", "Owner"));
    EXPECT_THAT(signals[1], ElementsAre("Title", "Fans"));
    EXPECT_THAT(signals[2], ElementsAre("ActivePreset"));

    const auto loop = pump(*service);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    char* title = nullptr;
    ASSERT_GE(sd_bus_get_property_string(watcher.get(), AppInstanceService::busName.c_str(),
                                         AppInstanceService::objectPath.c_str(),
                                         AppInstanceService::interfaceName.c_str(), "Title", &error, &title),
              0);
    EXPECT_STREQ(title, "L70° R60° 2.6k·980");
    std::free(title);
}

} // namespace
} // namespace quorvane
