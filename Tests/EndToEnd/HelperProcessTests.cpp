// The helper daemon as a real root process beside a running simulated Mac, driven by a scripted
// client installed as the app. Each wait is bounded; the bounds are what the helper promises.
#include "Simulator/SimulatorControlClient.hpp"
#include "Support/ChildProcess.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildProcess;

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class HelperProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "the helper runs as root";
        }
        std::string pattern = (fs::temp_directory_path() / "quorvane-e2e-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory = pattern;
        fs::permissions(directory, fs::perms(0755));
        fs::create_directories(directory / "bin");
        // The helper pins the app installed beside it: here the scripted client plays the app.
        fs::copy_file(ORVALITH_HELPER_BINARY, directory / "bin" / "OrvalithHelper");
        fs::copy_file(HELPER_CALL_BINARY, directory / "bin" / "Quorvane");
        environment = {"QUORVANE_SMC_SOCKET=" + (directory / "smc.sock").string(),
                       "QUORVANE_HELPER_SOCKET=" + (directory / "helper.sock").string(),
                       "QUORVANE_HELPER_LOCK=" + (directory / "fan-control.lock").string(),
                       "QUORVANE_HELPER_MARKER=" + (directory / "helper-capability-v1").string()};
        simulator = std::make_unique<ChildProcess>(
            QUORVANE_SIM_BINARY,
            std::vector<std::string>{"serve", "--profile", "Mac15,11", "--socket",
                                     (directory / "smc.sock").string(), "--speed", "10"},
            environment, directory / "sim.log");
        ASSERT_TRUE(eventually([&] { return fs::exists(directory / "smc.sock"); }, 10s));
    }
    void TearDown() override {
        helper.reset();
        simulator.reset();
        if (!directory.empty()) {
            fs::remove_all(directory);
        }
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

    nlohmann::json machine() {
        return SimulatorControlClient((directory / "smc.sock").string()).statusJSON();
    }
    int mode(int fan) { return machine()["fans"][fan]["mode"].get<int>(); }
    bool handedBack() {
        const auto status = machine();
        return status["Ftst"] == 0 && status["fans"][0]["mode"] != 1 && status["fans"][1]["mode"] != 1;
    }
    // A client that opens a session, takes fan 0 into manual and then holds the connection silently.
    std::unique_ptr<ChildProcess> takeFanZero(const std::vector<std::string>& afterwards = {"sleep",
                                                                                            "60000"}) {
        std::vector<std::string> steps{"begin", "S", "mode", "0", "1", "S"};
        steps.insert(steps.end(), afterwards.begin(), afterwards.end());
        auto owner = client(steps);
        EXPECT_TRUE(eventually([&] { return mode(0) == 1; }, 20s)) << owner->output();
        return owner;
    }

    fs::path directory;
    std::vector<std::string> environment;
    std::unique_ptr<ChildProcess> simulator;
    std::unique_ptr<ChildProcess> helper;
    int starts = 0;
    int clients = 0;
};

TEST_F(HelperProcessTest, ACrashedHelperIsCleanedUpByTheNextStartBeforeItListens) {
    startHelper();
    auto owner = takeFanZero();
    helper->signal(SIGKILL);
    ASSERT_TRUE(helper->wait(10s));
    EXPECT_EQ(mode(0), 1) << "a crash leaves the fans as they were";
    startHelper();
    EXPECT_TRUE(handedBack()) << machine().dump();
}

TEST_F(HelperProcessTest, ASilentClientIsRevertedWithinFourteenSeconds) {
    startHelper();
    auto owner = takeFanZero();
    const auto silentSince = std::chrono::steady_clock::now();
    EXPECT_TRUE(eventually([&] { return handedBack(); }, 16s));
    EXPECT_GE(std::chrono::steady_clock::now() - silentSince, 11s);
}

TEST_F(HelperProcessTest, ACompetingDaemonStopsWritesAndTheFansGoBack) {
    startHelper();
    auto owner = takeFanZero({"await", (directory / "go").string(), "target", "0", "3000", "S"});
    fs::copy_file("/bin/sleep", directory / "mbpfan");
    ChildProcess competitor(directory / "mbpfan", {"30"}, {}, directory / "mbpfan.log");
    const auto appeared = std::chrono::steady_clock::now();
    std::ofstream(directory / "go") << "write now";
    EXPECT_TRUE(eventually([&] { return handedBack(); }, 3s));
    EXPECT_LE(std::chrono::steady_clock::now() - appeared, 3s);
    ASSERT_TRUE(owner->wait(20s));
    EXPECT_NE(
        owner->output().find("mbpfan started another fan-control helper. Quorvane stopped writing and will "
                             "return its session to Apple Default."),
        std::string::npos)
        << owner->output();
}

TEST_F(HelperProcessTest, OnlyThePinnedAppMayTalk) {
    startHelper();
    fs::copy_file(HELPER_CALL_BINARY, directory / "helper-call");
    auto renamed = client({"status"}, directory / "helper-call");
    EXPECT_EQ(renamed->wait(10s), 3);
    EXPECT_EQ(renamed->output(), "closed\n");

    fs::create_directories(directory / "other");
    fs::copy_file(HELPER_CALL_BINARY, directory / "other" / "Quorvane");
    std::ofstream(directory / "other" / "Quorvane", std::ios::app) << "tampered";
    auto tampered = client({"status"}, directory / "other" / "Quorvane");
    EXPECT_EQ(tampered->wait(10s), 3);

    auto pinned = client({"status"});
    EXPECT_EQ(pinned->wait(10s), 0);
    EXPECT_NE(pinned->output().find("\"protocolVersion\":1"), std::string::npos) << pinned->output();
}

TEST_F(HelperProcessTest, SIGTERMDuringASessionHandsBackAndExitsCleanly) {
    startHelper();
    auto owner = takeFanZero();
    helper->signal(SIGTERM);
    EXPECT_EQ(helper->wait(30s), 0) << helper->output();
    EXPECT_TRUE(handedBack()) << machine().dump();
}

TEST_F(HelperProcessTest, RefusesToStartWithoutRoot) {
    ChildProcess unprivileged(
        "/usr/bin/setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", (directory / "bin" / "OrvalithHelper").string()},
        environment, directory / "unprivileged.log");
    EXPECT_EQ(unprivileged.wait(10s), 1);
    EXPECT_EQ(unprivileged.output(), "OrvalithHelper: Fan preflight is abnormal: helper must run as root\n");
}

} // namespace
} // namespace quorvane
