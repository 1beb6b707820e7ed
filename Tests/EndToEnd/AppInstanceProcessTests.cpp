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
    nlohmann::json settings() {
        std::ifstream file(directory / "config" / "quorvane" / "defaults.json");
        return nlohmann::json::parse(file, nullptr, false);
    }
};

TEST_F(AppInstanceProcessTest, ASecondStartHandsItsImportToTheRunningAppWhoseNextWriteKeepsIt) {
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    setVariable("DBUS_SESSION_BUS_ADDRESS", bus.address());
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
