#include "Simulator/SimulatedFault.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace quorvane {
namespace {

struct Parsed {
    std::vector<std::string> words;
    const char* description;
};

class SimulatedFaultParseTest : public ::testing::TestWithParam<Parsed> {};

TEST_P(SimulatedFaultParseTest, ReadsTheCommandLineAndSurvivesTheWire) {
    const auto fault = SimulatedFault::parse(GetParam().words);
    EXPECT_EQ(fault.description(), GetParam().description);
    EXPECT_EQ(SimulatedFault::fromJSON(nlohmann::json::parse(fault.toJSON().dump())).description(),
              GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SimulatedFaultParseTest,
                         ::testing::Values(Parsed{{"transient", "F0Md", "0x83", "--count", "3", "--writes"},
                                                  "F0Md answers 0x83 to the next 3 exchanges (writes)"},
                                           Parsed{
                                               {"transient", "TCMz", "130", "--reads", "--count", "always"},
                                               "TCMz answers 0x82 to every exchange (reads)"},
                                           Parsed{{"missing", "Te05"}, "Te05 is missing"},
                                           Parsed{{"stuck", "F1Md", "3"}, "F1Md is stuck at 0x03"},
                                           Parsed{{"target-ignored", "1"}, "fan 1 ignores its target"},
                                           Parsed{{"dropout", "Tf04"}, "Tf04 has dropped out"},
                                           Parsed{{"spike", "TCMz", "-12.5", "--seconds", "3"},
                                                  "TCMz spikes by -12.5 °C for 3 s"}));

} // namespace
} // namespace quorvane
