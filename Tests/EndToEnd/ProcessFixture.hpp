#pragma once

// Real processes for end-to-end tests: a simulated Mac served from a temporary directory, the
// helper daemon installed there beside a program playing the app, and clients. Needs root.
#include "Simulator/SimulatorControlClient.hpp"
#include "Support/ChildProcess.hpp"
#include "Support/Eventually.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace quorvane::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The JSON objects an app run with --json printed so far.
inline std::vector<nlohmann::json> polls(const ChildProcess& process) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(process.output());
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.front() == '{') {
            objects.push_back(nlohmann::json::parse(line, nullptr, false));
        }
    }
    return objects;
}

class ProcessFixture : public ::testing::Test {
protected:
    // The program installed as the app beside the helper, and the machine to simulate. Over hwmon,
    // app and helper reach the machine through the macsmc_hwmon device it keeps in machine/.
    ProcessFixture(fs::path app, std::string profile, bool overHwmon = false)
        : app_(std::move(app)), profile_(std::move(profile)), overHwmon_(overHwmon) {}

    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "the helper runs as root";
        }
        fs::permissions(directory, fs::perms(0755));
        fs::create_directories(directory / "bin");
        // The helper pins the app installed beside it: here the scripted client plays the app.
        fs::copy_file(ORVALITH_HELPER_BINARY, directory / "bin" / "OrvalithHelper");
        fs::copy_file(app_, directory / "bin" / "Quorvane");
        environment = {"QUORVANE_SMC_SOCKET=" + (directory / "smc.sock").string(),
                       "QUORVANE_HELPER_SOCKET=" + (directory / "helper.sock").string(),
                       "QUORVANE_HELPER_LOCK=" + (directory / "fan-control.lock").string(),
                       "QUORVANE_HELPER_MARKER=" + (directory / "helper-capability-v1").string(),
                       "XDG_CONFIG_HOME=" + (directory / "config").string(),
                       "XDG_STATE_HOME=" + (directory / "state").string(),
                       // Each test's app is the only one: no session bus unless a test starts one.
                       "XDG_RUNTIME_DIR=" + (directory / "runtime").string(),
                       "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (directory / "no-bus").string()};
        fs::create_directories(directory / "runtime");
        fs::permissions(directory / "runtime", fs::perms::owner_all);
        std::vector<std::string> serve{
            "serve", "--profile", profile_, "--socket", (directory / "smc.sock").string(), "--speed", "10"};
        if (overHwmon_) {
            // A patched device tree and fan_control=1: the only way a real machine lets anyone drive its
            // fans.
            serve.insert(serve.end(), {"--hwmon", (directory / "machine").string(), "--dt-keys", "extended",
                                       "--fan-control"});
        }
        simulator =
            std::make_unique<ChildProcess>(QUORVANE_SIM_BINARY, serve, environment, directory / "sim.log");
        ASSERT_TRUE(eventually([&] { return fs::exists(directory / "smc.sock"); }, 10s));
        if (overHwmon_) {
            // Tools still reach the machine on its socket; app and helper only through the device.
            std::erase_if(environment,
                          [](const std::string& entry) { return entry.starts_with("QUORVANE_SMC_SOCKET="); });
            environment.push_back("QUORVANE_HWMON_ROOT=" + (directory / "machine/hwmon").string());
            environment.push_back("QUORVANE_DEVICE_TREE=" + (directory / "machine/device-tree").string());
        }
    }

    void setVariable(const std::string& name, const std::string& value) {
        std::erase_if(environment, [&](const std::string& entry) { return entry.starts_with(name + "="); });
        environment.push_back(name + "=" + value);
    }

    void startHelper() {
        fs::remove(directory / "helper.sock");
        helper = std::make_unique<ChildProcess>(directory / "bin" / "OrvalithHelper",
                                                std::vector<std::string>{}, environment,
                                                directory / ("helper-" + std::to_string(++starts) + ".log"));
        ASSERT_TRUE(eventually([&] { return fs::exists(directory / "helper.sock"); }, 30s))
            << helper->output();
    }

    std::unique_ptr<ChildProcess> client(const std::vector<std::string>& steps,
                                         const fs::path& program = fs::path()) {
        return std::make_unique<ChildProcess>(program.empty() ? directory / "bin" / "Quorvane" : program,
                                              steps, environment,
                                              directory / ("client-" + std::to_string(++clients) + ".log"));
    }
    // The headless app, approved and tested, with `switches` after that.
    std::unique_ptr<ChildProcess> app(const std::vector<std::string>& switches = {"--preset", "Smart Auto"}) {
        std::vector<std::string> arguments{"--headless", "--json", "--install-helper",
                                           "--run-supervised-test"};
        arguments.insert(arguments.end(), switches.begin(), switches.end());
        return client(arguments);
    }
    // Quits an app or helper as the desktop would and expects a clean exit.
    static void quit(ChildProcess& process) {
        process.signal(SIGTERM);
        EXPECT_EQ(process.wait(60s), 0) << process.output();
    }

    SimulatorControlClient smc() { return SimulatorControlClient((directory / "smc.sock").string()); }
    nlohmann::json machine() { return smc().statusJSON(); }
    bool manual(int fan) { return machine()["fans"][fan]["mode"].get<int>() == 1; }
    bool bothManual() { return manual(0) && manual(1); }
    std::int64_t actual(int fan) { return std::llround(machine()["fans"][fan]["actualRPM"].get<double>()); }
    bool handedBack() {
        const auto status = machine();
        return status["Ftst"] == 0 && status["fans"][0]["mode"] != 1 && status["fans"][1]["mode"] != 1;
    }
    // A client that opens a session, takes fan 0 into manual and then holds the connection silently.
    std::unique_ptr<ChildProcess> takeFanZero() {
        auto owner = client({"begin", "S", "mode", "0", "1", "S", "sleep", "60000"});
        EXPECT_TRUE(eventually([&] { return manual(0); }, 20s)) << owner->output();
        return owner;
    }

    TemporaryDirectory temporary; // first, so it goes last, after every process

    const fs::path& directory = temporary.path();
    std::vector<std::string> environment;
    std::unique_ptr<ChildProcess> simulator;
    std::unique_ptr<ChildProcess> helper;
    int starts = 0;
    int clients = 0;
    fs::path app_;
    std::string profile_;
    bool overHwmon_ = false;
};

} // namespace quorvane::testing
