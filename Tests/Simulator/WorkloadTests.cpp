#include "Helpers/Clock.hpp"
#include "RunningSimulator.hpp"
#include "Simulator/ScaledClock.hpp"
#include "Simulator/SimulatorError.hpp"
#include "Simulator/SystemFanCurve.hpp"
#include "Simulator/Workload.hpp"
#include "Simulator/WorkloadScript.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using ::testing::HasSubstr;

TEST(WorkloadTest, SegmentsRampHoldAndRepeat) {
    const ClusterPower low{1, 1, 1, 1, 1};
    const ClusterPower high{3, 5, 7, 9, 11};
    const Workload once("ramp", {{1000, low, high}, {1000, high, high}}, false);
    EXPECT_EQ(once.powerAt(-5), low);
    EXPECT_EQ(once.powerAt(500), (ClusterPower{2, 3, 4, 5, 6}));
    EXPECT_EQ(once.powerAt(60000), high);

    const Workload looping("loop", {{1000, low, low}, {1000, high, high}}, true);
    EXPECT_EQ(looping.powerAt(1500), high);
    EXPECT_EQ(looping.powerAt(2500), low);
    EXPECT_EQ(looping.powerAt(3500), high);

    // A timeline step plays the first part of a workload, repeating or holding it as it would.
    const auto played = looping.firstSegments(2500);
    ASSERT_EQ(played.size(), 3u);
    EXPECT_EQ(played[2].durationMilliseconds, 500);
    const auto held = once.firstSegments(500);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].to, (ClusterPower{2, 3, 4, 5, 6}));
    EXPECT_EQ(once.firstSegments(3000).back().durationMilliseconds, 1000);
}

TEST(WorkloadTest, BuiltInsAreOrderedByHeatAndUnknownNamesAreRefused) {
    const auto sustained = [](const char* name) {
        return Workload::named(name).powerAt(600000).total();
    };
    EXPECT_LT(sustained("idle"), sustained("light"));
    EXPECT_LT(sustained("light"), sustained("steady"));
    EXPECT_LT(sustained("steady"), sustained("runaway"));
    EXPECT_GT(Workload::named("gpu-heavy").powerAt(0).gpu(), Workload::named("gpu-heavy").powerAt(0).cpu());
    const auto bursty = Workload::named("bursty");
    EXPECT_TRUE(bursty.repeats());
    EXPECT_GT(bursty.powerAt(5000).total(), 3 * bursty.powerAt(30000).total());
    for (const auto& name : Workload::builtInNames()) {
        EXPECT_EQ(Workload::named(name).name(), name);
    }
    EXPECT_THAT([] { Workload::named("stedy"); }, ::testing::ThrowsMessage<SimulatorError>(::testing::AllOf(
                                                      HasSubstr("\"stedy\""), HasSubstr("gpu-heavy"))));
}

TEST(WorkloadScriptTest, StepsBecomeSegmentsAndOmittedClustersIdle) {
    const auto workload = WorkloadScript::parse(R"({"name": "warm", "repeat": true, "steps": [
        {"seconds": 2, "workload": "steady"},
        {"seconds": 1.5, "power": {"gpuA": 20}, "rampTo": {"gpuA": 40, "gpuB": 10}}]})",
                                                "warm.json");
    EXPECT_EQ(workload.name(), "warm");
    EXPECT_TRUE(workload.repeats());
    EXPECT_EQ(workload.durationMilliseconds(), 3500);
    EXPECT_EQ(workload.powerAt(1000), Workload::named("steady").powerAt(0));
    const auto ramp = workload.powerAt(2750);
    EXPECT_DOUBLE_EQ(ramp.gpuA, 30.0);
    EXPECT_DOUBLE_EQ(ramp.efficiency, Workload::idlePower().efficiency);
    EXPECT_EQ(WorkloadScript::parse(R"({"steps": [{"seconds": 1, "workload": "idle"}]})", "x.json").name(),
              "x.json");
}

struct BadScript {
    const char* text;
    const char* message;
};

class WorkloadScriptErrorTest : public ::testing::TestWithParam<BadScript> {};

TEST_P(WorkloadScriptErrorTest, NamesTheFileAndThePlace) {
    EXPECT_THAT([] { WorkloadScript::parse(GetParam().text, "timeline.json"); },
                ::testing::ThrowsMessage<SimulatorError>(::testing::StrEq(GetParam().message)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkloadScriptErrorTest,
    ::testing::Values(
        BadScript{"{\"steps\": [\n  {\"seconds\": 1,}\n]}",
                  "timeline.json: line 2, column 17: syntax error while parsing object key - unexpected '}'; "
                  "expected string literal"},
        BadScript{"[]", "timeline.json: /: expected an object"},
        BadScript{R"({"steps": []})", "timeline.json: /steps: expected a list of at least one step"},
        BadScript{R"({"stpes": []})", "timeline.json: /stpes: unknown field"},
        BadScript{R"({"steps": [{"seconds": 0, "workload": "idle"}]})",
                  "timeline.json: /steps/0/seconds: expected a number of seconds above 0"},
        BadScript{R"({"steps": [{"seconds": 1}]})",
                  "timeline.json: /steps/0: expected either \"workload\" or \"power\""},
        BadScript{R"({"steps": [{"seconds": 1, "workload": "idle"}, {"seconds": 1, "power": {"gpuA": -1}}]})",
                  "timeline.json: /steps/1/power/gpuA: expected watts from 0 to 200"},
        BadScript{R"({"steps": [{"seconds": 1, "workload": "idle", "rampTo": {}}]})",
                  "timeline.json: /steps/0/rampTo: only a \"power\" step can ramp"},
        BadScript{R"({"steps": [{"seconds": 1, "workload": "nap"}]})",
                  "timeline.json: /steps/0/workload: Unknown workload \"nap\"; known workloads: idle, light, "
                  "steady, "
                  "gpu-heavy, bursty, runaway, or the path of a timeline file (.json)"}));

TEST(WorkloadScriptTest, LoadsFilesAndNamesOnesItCannotRead) {
    testing::TemporaryDirectory directory;
    const auto path = directory.path() / "burst.json";
    std::ofstream(path) << R"({"steps": [{"seconds": 4, "workload": "bursty"}]})";
    EXPECT_EQ(WorkloadScript::load(path).durationMilliseconds(), 4000);
    EXPECT_THAT(
        [&] { WorkloadScript::load(directory.path() / "absent.json"); },
        ::testing::ThrowsMessage<SimulatorError>(HasSubstr("absent.json: cannot read the timeline file")));
    EXPECT_TRUE(WorkloadScript::isPath("./steady"));
    EXPECT_TRUE(WorkloadScript::isPath("night.json"));
    EXPECT_FALSE(WorkloadScript::isPath("gpu-heavy"));
}

TEST(ScaledClockTest, ScalesTheBaseClockAndAddsSteps) {
    VirtualClock base(5000);
    ScaledClock fast(2.5, base);
    EXPECT_EQ(fast.nowMilliseconds(), 0);
    base.advance(400);
    EXPECT_EQ(fast.nowMilliseconds(), 1000);
    fast.advance(30);
    EXPECT_EQ(fast.nowMilliseconds(), 1030);
    fast.sleepFor(1000); // sleeps 400 ms of base time
    EXPECT_EQ(base.nowMilliseconds(), 5800);

    ScaledClock stopped(0.0, base);
    base.advance(10000);
    stopped.sleepFor(250);
    EXPECT_EQ(stopped.nowMilliseconds(), 250);
    EXPECT_THROW(ScaledClock(-1.0, base), std::invalid_argument);
}

TEST(SystemFanCurveTest, StandsStillUntilTheStartAndRunsDownToTheStop) {
    SystemFanCurve curve({75.0, 65.0, 110.0});
    EXPECT_EQ(curve.update(74.9), std::nullopt);
    EXPECT_EQ(curve.update(75.0), 0.0);
    EXPECT_EQ(curve.update(92.5), 0.5);
    EXPECT_EQ(curve.update(130.0), 1.0);
    EXPECT_EQ(curve.update(65.0), 0.0); // still running on the way down
    EXPECT_EQ(curve.update(64.9), std::nullopt);
    EXPECT_EQ(curve.update(70.0), std::nullopt);
    EXPECT_EQ(SystemFanCurve::rpmFor(std::nullopt, 1200, 6900), 0.0);
    EXPECT_EQ(SystemFanCurve::rpmFor(0.5, 1200, 6900), 4050.0);
}

} // namespace
} // namespace quorvane
