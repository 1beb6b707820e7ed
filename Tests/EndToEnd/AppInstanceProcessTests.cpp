// Quorvane as one instance per user, and the desktop app's quit on a signal, with real processes.
#include "ProcessFixture.hpp"
#include "Support/PrivateBus.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

class AppInstanceProcessTest : public ProcessFixture {
protected:
    AppInstanceProcessTest() : ProcessFixture(QUORVANE_APP_BINARY, "Mac15,11") {}

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
};

// The same, with a private session bus the app and its second starts share.
class AppInstanceOnBusTest : public AppInstanceProcessTest {
protected:
    void SetUp() override {
        if (!bus.running()) {
            GTEST_SKIP() << "dbus-daemon is not available";
        }
        AppInstanceProcessTest::SetUp();
        setVariable("DBUS_SESSION_BUS_ADDRESS", bus.address());
    }

    PrivateBus bus;
};

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
    const auto settings = directory / "config/quorvane/defaults.json";
    std::ofstream(settings, std::ios::app) << ","; // a hand edit that breaks it
    auto owner = client({"--ownership", "another-app"});
    EXPECT_EQ(owner->wait(30s), 0) << owner->output();
    quit(*running);

    auto restarted = client({"--headless"});
    ASSERT_TRUE(polling(*restarted)) << restarted->output();
    const auto stored = nlohmann::json::parse(std::ifstream(settings), nullptr, false);
    EXPECT_EQ(stored.value("fanControlOwnership.v1", ""), "anotherApp") << stored.dump();
    EXPECT_NE(stored.value("customFanPresets.v1", "").find("\"" + name + "\""), std::string::npos)
        << name << " " << stored.dump();
    quit(*restarted);
}

TEST_F(AppInstanceOnBusTest, AForwardedPresetTheRunningAppRefusesExitsOneWithItsSentence) {
    auto running = client({"--headless"});
    ASSERT_TRUE(polling(*running)) << running->output();
    auto second = client({"--preset", "Full Blast"});
    EXPECT_EQ(second->wait(30s), 1);
    EXPECT_EQ(second->output(), "Quorvane: Approve the helper and complete the supervised fan test first.\n");
    quit(*running);
}

// A quit whose hand-back hangs on a stuck fan gives up the name at once: a start meanwhile waits for
// it and then is the one instance, instead of handing nothing to an app that is going away.
TEST_F(AppInstanceOnBusTest, AStartDuringASlowQuitWaitsAndThenRunsAsTheOnlyInstance) {
    startHelper();
    auto first = app();
    ASSERT_TRUE(eventually([&] { return bothManual(); }, 60s)) << first->output();
    smc().injectFault(SimulatedFault::parse({"stuck", "F0Md", "1"}));
    first->signal(SIGTERM);
    ASSERT_TRUE(eventually([&] { return !nameHolder(bus); }, 20s)) << first->output();

    auto second = client({"--headless"});
    ASSERT_TRUE(eventually([&] { return second->output().find("is quitting") != std::string::npos; }, 20s))
        << second->output();
    first->wait(90s);
    smc().clearFaults();
    ASSERT_TRUE(polling(*second)) << second->output();
    EXPECT_EQ(nameHolder(bus), second->pid());
    quit(*second);
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
    ASSERT_TRUE(eventually([&] { return bothManual(); }, 60s)) << desktop->output();
    quit(*desktop);
    EXPECT_TRUE(handedBack()) << machine().dump();
}

} // namespace
} // namespace quorvane
