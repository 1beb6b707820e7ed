#include "Helpers/CompetingFanControllerDetector.hpp"
#include "Support/FakeProcessTable.hpp"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::FakeProcessTable;

TEST(CompetingFanControllerDetectorTest, MatchesOnlyExactPathSuffixes) {
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("/usr/sbin/mbpfan"), "mbpfan");
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("/usr/local/bin/macfanctld"), "macfanctld");
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("/usr/sbin/mbpfan.bak"), std::nullopt);
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("/usr/sbin/notmbpfan"), std::nullopt);
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("mbpfan"), std::nullopt);
}

TEST(CompetingFanControllerDetectorTest, FirstMatchingForeignProcessWins) {
    FakeProcessTable table;
    table.own = 10;
    table.processes = {{10, "/usr/sbin/mbpfan"},
                       {11, std::nullopt},
                       {12, "/bin/bash"},
                       {13, "/opt/macfanctld"},
                       {14, "/usr/sbin/mbpfan"}};
    // Names count only where the executable is unknown: the shell merely calls itself mbpfan.
    table.names = {{10, "mbpfan"}, {11, "kworker/0:1"}, {12, "mbpfan"}};
    table.commands = {{12, "mbpfan"}};
    EXPECT_EQ(CompetingFanControllerDetector::runningControllerDetails(table),
              (CompetingFanController{"macfanctld", "/opt/macfanctld", 13}));
}

TEST(CompetingFanControllerDetectorTest, AnUnreadableExecutableIsKnownByItsCommandThenItsName) {
    FakeProcessTable table;
    table.processes = {{20, std::nullopt}, {21, std::nullopt}, {22, std::nullopt}};
    table.commands = {{20, "/usr/sbin/mbpfan"}, {21, "/usr/bin/macfanctld"}, {22, "/usr/bin/macfanctld"}};
    // Only a process whose kernel name is a known file name is looked at further.
    table.names = {{20, "mbpfan.sh"}, {21, "macfanctld"}, {22, "mbpfan"}};
    EXPECT_EQ(CompetingFanControllerDetector::runningControllerDetails(table),
              (CompetingFanController{"macfanctld", "/usr/bin/macfanctld", 21}));
    table.processes.erase(table.processes.begin() + 1);
    EXPECT_EQ(CompetingFanControllerDetector::runningControllerDetails(table),
              (CompetingFanController{"mbpfan", "mbpfan", 22}));
}

TEST(CompetingFanControllerDetectorTest, NoMatchOrAFailedListingMeansNone) {
    FakeProcessTable table;
    table.processes = {{2, "/bin/bash"}};
    EXPECT_EQ(CompetingFanControllerDetector::runningControllerDetails(table), std::nullopt);
    table.failListing = true;
    EXPECT_EQ(CompetingFanControllerDetector::runningControllerDetails(table), std::nullopt);
}

} // namespace
} // namespace quorvane
