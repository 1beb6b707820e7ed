#include "Helpers/CompetingFanControllerDetector.hpp"

#include <gtest/gtest.h>
#include <map>

namespace quorvane {
namespace {

class FakeProcessTable final : public ProcessTable {
public:
    std::vector<std::pair<pid_t, std::optional<std::string>>> processes;
    pid_t own = 1;
    bool failListing = false;

    std::vector<pid_t> processIdentifiers() override {
        if (failListing) {
            throw std::runtime_error("listing failed");
        }
        std::vector<pid_t> ids;
        for (const auto& [pid, path] : processes) {
            ids.push_back(pid);
        }
        return ids;
    }
    std::optional<std::string> executablePath(pid_t process) override {
        for (const auto& [pid, path] : processes) {
            if (pid == process) {
                return path;
            }
        }
        return std::nullopt;
    }
    pid_t ownProcessIdentifier() override { return own; }
};

TEST(CompetingFanControllerDetectorTest, MatchesOnlyExactPathSuffixes) {
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("/usr/sbin/mbpfan"), "mbpfan");
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("/usr/local/bin/macfanctld"), "macfanctld");
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("/usr/sbin/mbpfan.bak"), std::nullopt);
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("/usr/sbin/notmbpfan"), std::nullopt);
    EXPECT_EQ(CompetingFanControllerDetector::controllerName("/usr/sbin/MBPFAN"), std::nullopt);
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
    EXPECT_EQ(CompetingFanControllerDetector::runningControllerDetails(table),
              (CompetingFanController{"macfanctld", "/opt/macfanctld", 13}));
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
