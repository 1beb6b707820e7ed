#include "RunningSimulator.hpp"
#include "Simulator/SimulatorCommandLine.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace quorvane {
namespace {

using ::testing::HasSubstr;
using testing::RunningSimulator;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome run(std::vector<std::string> arguments) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = SimulatorCommandLine::run(arguments, out, err);
    return {status, out.str(), err.str()};
}

TEST(SimulatorCommandLineTest, ControlsARunningMachine) {
    RunningSimulator sim;
    const auto& socket = sim.socketPath();

    const auto status = run({"ctl", "--socket", socket, "status"});
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_THAT(status.out, HasSubstr("Simulated Mac Mac15,11"));
    EXPECT_THAT(status.out,
                HasSubstr("Fan 1: system (3), actual 0 RPM, target 0 RPM, limits 1200...7450 RPM"));
    EXPECT_THAT(status.out, HasSubstr("Ftst: 0"));
    EXPECT_THAT(status.out, HasSubstr("CPU hotspot: TCMz"));

    EXPECT_EQ(run({"ctl", "--socket", socket, "workload", "gpu-heavy"}).out, "Workload: gpu-heavy\n");
    EXPECT_EQ(run({"ctl", "--socket", socket, "fault", "target-ignored", "0"}).status, 0);
    const auto json = run({"ctl", "--socket", socket, "status", "--json"});
    const auto document = nlohmann::json::parse(json.out);
    EXPECT_EQ(document["workload"], "gpu-heavy");
    EXPECT_EQ(document["fans"].size(), 2u);
    EXPECT_EQ(document["faults"], nlohmann::json::array({"fan 0 ignores its target"}));

    EXPECT_EQ(run({"ctl", "--socket", socket, "clear"}).status, 0);
    EXPECT_TRUE(sim.mac.status().faults.empty());

    testing::TemporaryDirectory directory;
    const auto timeline = (directory.path() / "ramp.json").string();
    std::ofstream(timeline) << R"({"name": "ramp", "steps": [{"seconds": 60, "workload": "runaway"}]})";
    EXPECT_EQ(run({"ctl", "--socket", socket, "workload", timeline}).out, "Workload: ramp\n");
    EXPECT_EQ(sim.mac.status().workload, "ramp");

    const auto probe = run({"probe", "--socket", socket});
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_THAT(probe.out, HasSubstr("Simulated Mac Mac15,11 at " + socket));
    EXPECT_THAT(probe.out, HasSubstr("SMC keys: 2808"));
    EXPECT_THAT(probe.out, HasSubstr("Fan 1: controllable"));
    EXPECT_THAT(run({"profiles"}).out, HasSubstr("Mac14,2\tMacBook Air, M2, fanless"));
}

// Unknown names are usage errors (status 2); a missing server or a refusal is status 1.
TEST(SimulatorCommandLineTest, RefusesUnknownNamesWithStatus2AndAMissingServerOrARefusalWithStatus1) {
    RunningSimulator sim;
    const auto& socket = sim.socketPath();
    const auto workload = run({"ctl", "--socket", socket, "workload", "melt"});
    EXPECT_EQ(workload.status, 2);
    EXPECT_THAT(workload.err, HasSubstr("Unknown workload \"melt\""));
    const auto fault = run({"ctl", "--socket", socket, "fault", "melt"});
    EXPECT_EQ(fault.status, 2);
    EXPECT_THAT(fault.err, HasSubstr("Unknown fault \"melt\""));
    const auto profile = run({"serve", "--profile", "Mac99,1", "--socket", socket});
    EXPECT_EQ(profile.status, 2);
    EXPECT_THAT(profile.err,
                HasSubstr("Unknown profile \"Mac99,1\"; known profiles: Mac15,11, Mac14,6, Mac14,2"));
    EXPECT_EQ(run({"serve", "--speed", "0", "--socket", socket}).status, 2);
    EXPECT_EQ(run({"ctl", "--socket", socket, "reboot"}).status, 2);
    EXPECT_EQ(run({"probe", "--profile", "Mac99,1"}).status, 2);

    testing::TemporaryDirectory directory;
    const auto broken = (directory.path() / "broken.json").string();
    std::ofstream(broken) << "{\"steps\": [\n  {\"seconds\": 1 \"workload\": \"idle\"}]}";
    const auto script = run({"serve", "--workload", broken, "--socket", socket});
    EXPECT_EQ(script.status, 2);
    EXPECT_THAT(script.err, HasSubstr(broken + ": line 2, column 26: syntax error while parsing object"));

    const auto refused = run({"ctl", "--socket", sim.socketPath(), "fault", "missing", "ZZZZ"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "quorvane-sim: The simulated Mac15,11 has no key \"ZZZZ\"\n");

    const auto absent = (sim.directory.path() / "absent.sock").string();
    const auto missing = run({"ctl", "--socket", absent, "status"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("No simulated Mac answers at " + absent));
    // A second server on a path already served is refused.
    const auto twice = run({"serve", "--socket", sim.socketPath()});
    EXPECT_EQ(twice.status, 1);
    EXPECT_THAT(twice.err, HasSubstr("Another process is already serving"));
}

} // namespace
} // namespace quorvane
