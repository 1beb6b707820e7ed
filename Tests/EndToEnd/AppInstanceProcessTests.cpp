// Quorvane as one instance per user, and the desktop app's quit on a signal, with real processes.
#include "ProcessFixture.hpp"
#include "Support/PrivateBus.hpp"

#include <algorithm>

namespace quorvane {
namespace {

using namespace quorvane::testing;

class AppInstanceProcessTest : public ProcessFixture {
protected:
    AppInstanceProcessTest() : ProcessFixture(QUORVANE_APP_BINARY, "Mac15,11") {}

    void setVariable(const std::string& name, const std::string& value) {
        std::erase_if(environment, [&](const std::string& entry) { return entry.starts_with(name + "="); });
        environment.push_back(name + "=" + value);
    }
    // Waits for the first poll line, by which time the app owns its name and lock.
    static bool polling(const ChildProcess& app) {
        return eventually([&] { return app.output().find("preset \"") != std::string::npos; }, 30s);
    }
    // The process that holds the app's name on `bus`, if one does.
    std::optional<pid_t> nameHolder(const PrivateBus& bus) {
        auto status =
            client({"--address=" + bus.address(), "status", "com.orvalith.quorvane"}, "/usr/bin/busctl");
        if (status->wait(10s) != 0) {
            return std::nullopt;
        }
        const auto text = "\n" + status->output();
        const auto at = text.find("\nPID=");
        return at == std::string::npos ? std::nullopt : std::optional<pid_t>(std::stoi(text.substr(at + 5)));
    }
    nlohmann::json settings() {
        std::ifstream file(directory / "config" / "quorvane" / "defaults.json");
        return nlohmann::json::parse(file, nullptr, false);
    }
};

// The same, with a private session bus the app and its second starts share.
class AppInstanceOnBusTest : public AppInstanceProcessTest {
protected:
    void SetUp() override {
        AppInstanceProcessTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        if (!bus.running()) {
            GTEST_SKIP() << "dbus-daemon is not available";
        }
        setVariable("DBUS_SESSION_BUS_ADDRESS", bus.address());
    }

    PrivateBus bus;
};

TEST_F(AppInstanceOnBusTest, ASecondStartHandsItsImportToTheRunningAppWhoseNextWriteKeepsIt) {
    auto running = client({"--headless"});
    ASSERT_TRUE(polling(*running)) << running->output();

    const auto file = directory / "shared.json";
    std::ofstream(file) << R"({"version": 1, "presets": [
        {"id": "A0000000-0000-0000-0000-000000000001", "name": "Desk", "kind": "custom", "strategy": "cpuCoreAverage",
         "lowTemperature": 45, "highTemperature": 80, "hysteresis": 2, "linkedFans": true},
        {"id": "A0000000-0000-0000-0000-000000000002", "name": "Night", "kind": "custom", "strategy": "cpuCoreAverage",
         "lowTemperature": 40, "highTemperature": 70, "hysteresis": 2, "linkedFans": true}]})";
    auto second = client({"--headless", "--import-presets", file.string()});
    EXPECT_EQ(second->wait(30s), 0) << second->output();
    EXPECT_EQ(second->output(), "Imported 2 presets from " + file.string() + " in the running Quorvane\n");

    // The running app's next settings write keeps what it imported.
    auto third = client({"--ownership", "another-app"});
    EXPECT_EQ(third->wait(30s), 0) << third->output();
    const auto stored = settings();
    EXPECT_EQ(stored.value("fanControlOwnership.v1", ""), "anotherApp") << stored.dump();
    ASSERT_TRUE(stored.contains("customFanPresets.v1")) << stored.dump();
    const auto library = nlohmann::json::parse(stored["customFanPresets.v1"].get<std::string>());
    std::vector<std::string> names;
    for (const auto& preset : library) {
        names.push_back(preset["name"]);
    }
    EXPECT_EQ(std::count(names.begin(), names.end(), "Desk"), 1) << stored.dump();
    EXPECT_EQ(std::count(names.begin(), names.end(), "Night"), 1) << stored.dump();

    running->signal(SIGTERM);
    EXPECT_EQ(running->wait(30s), 0) << running->output();
}

// The settings loss as it was found: a preset made over the bus, a hand edit that breaks the file,
// a change of owner, a restart. The preset is still there.
TEST_F(AppInstanceOnBusTest, AHandEditThatBreaksTheSettingsLosesNoPresetOnTheNextChange) {
    auto running = client({"--headless"});
    ASSERT_TRUE(polling(*running)) << running->output();
    auto create = client({"--address=" + bus.address(), "call", "com.orvalith.quorvane",
                          "/com/orvalith/quorvane", "com.orvalith.quorvane", "CreatePreset"},
                         "/usr/bin/busctl");
    ASSERT_EQ(create->wait(30s), 0) << create->output();
    const auto name = create->output().substr(3, create->output().size() - 5); // s "<name>"\n
    {
        std::ofstream file(directory / "config" / "quorvane" / "defaults.json", std::ios::app);
        file << ",";
    }
    auto owner = client({"--ownership", "another-app"});
    EXPECT_EQ(owner->wait(30s), 0) << owner->output();
    running->signal(SIGTERM);
    EXPECT_EQ(running->wait(30s), 0) << running->output();

    auto restarted = client({"--headless"});
    ASSERT_TRUE(polling(*restarted)) << restarted->output();
    const auto stored = settings();
    EXPECT_EQ(stored.value("fanControlOwnership.v1", ""), "anotherApp") << stored.dump();
    EXPECT_NE(stored.value("customFanPresets.v1", "").find("\"" + name + "\""), std::string::npos)
        << name << " " << stored.dump();
    restarted->signal(SIGTERM);
    EXPECT_EQ(restarted->wait(30s), 0) << restarted->output();
}

TEST_F(AppInstanceOnBusTest, AForwardedPresetTheRunningAppRefusesExitsOneWithItsSentence) {
    auto running = client({"--headless"});
    ASSERT_TRUE(polling(*running)) << running->output();
    auto second = client({"--preset", "Full Blast"});
    EXPECT_EQ(second->wait(30s), 1);
    EXPECT_EQ(second->output(), "Quorvane: Approve the helper and complete the supervised fan test first.\n");
    running->signal(SIGTERM);
    EXPECT_EQ(running->wait(30s), 0) << running->output();
}

// A quit whose hand-back hangs on a stuck fan gives up the name at once: a start meanwhile waits for
// it and then is the one instance, instead of handing nothing to an app that is going away.
TEST_F(AppInstanceOnBusTest, AStartDuringASlowQuitWaitsAndThenRunsAsTheOnlyInstance) {
    startHelper();
    auto first =
        client({"--headless", "--install-helper", "--run-supervised-test", "--preset", "Smart Auto"});
    ASSERT_TRUE(eventually([&] { return manual(0) && manual(1); }, 60s)) << first->output();
    SimulatorControlClient((directory / "smc.sock").string())
        .injectFault(SimulatedFault::parse({"stuck", "F0Md", "1"}));
    first->signal(SIGTERM);
    ASSERT_TRUE(eventually([&] { return !nameHolder(bus); }, 20s)) << first->output();

    auto second = client({"--headless"});
    ASSERT_TRUE(eventually([&] { return second->output().find("is quitting") != std::string::npos; }, 20s))
        << second->output();
    first->wait(90s);
    SimulatorControlClient((directory / "smc.sock").string()).clearFaults();
    ASSERT_TRUE(polling(*second)) << second->output();
    EXPECT_EQ(nameHolder(bus), second->pid());
    second->signal(SIGTERM);
    EXPECT_EQ(second->wait(60s), 0) << second->output();
}

TEST_F(AppInstanceProcessTest, WithoutASessionBusASecondStartSaysInOneLineItCannotReachTheFirst) {
    auto running = client({"--headless"});
    ASSERT_TRUE(polling(*running)) << running->output();
    auto second = client({"--headless", "--preset", "Smart Auto"});
    EXPECT_EQ(second->wait(30s), 1);
    EXPECT_EQ(second->output(), "Quorvane: another Quorvane is running (process " +
                                    std::to_string(running->pid()) +
                                    ") and cannot be reached without a session bus; quit it first\n");
    running->signal(SIGTERM);
    EXPECT_EQ(running->wait(30s), 0) << running->output();
}

// The X11 platform starts its event thread inside QApplication's constructor: a termination signal
// must find it blocked there too, or it ends the app with the fans still in manual mode.
TEST_F(AppInstanceProcessTest, SIGTERMToTheDesktopAppMidControlHandsEveryFanBackAndExitsZero) {
    if (!fs::exists("/usr/bin/Xvfb")) {
        GTEST_SKIP() << "Xvfb is not installed";
    }
    const auto displayFile = directory / "display";
    ChildProcess server(
        "/bin/sh",
        {"-c", "exec Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>" + displayFile.string()}, {},
        directory / "xvfb.log");
    std::string display;
    ASSERT_TRUE(eventually(
        [&] {
            std::ifstream(displayFile) >> display;
            return !display.empty();
        },
        20s));
    setVariable("DISPLAY", ":" + display);
    setVariable("QT_QPA_PLATFORM", "xcb");
    startHelper();

    auto desktop = client({"--install-helper", "--run-supervised-test", "--preset", "Smart Auto"});
    ASSERT_TRUE(eventually([&] { return mode(0) == 1 && mode(1) == 1; }, 60s)) << desktop->output();
    desktop->signal(SIGTERM);
    EXPECT_EQ(desktop->wait(30s), 0) << desktop->output();
    EXPECT_TRUE(handedBack()) << machine().dump();
}

} // namespace
} // namespace quorvane
